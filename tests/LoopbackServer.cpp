// Loopback test server: one connection at a time, scripted by the test's handler.
#include "LoopbackServer.h"

namespace
{
struct CWinsockUser
{
    CWinsockUser()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~CWinsockUser() { WSACleanup(); }
};

bool WaitSocket(SOCKET s, bool forWrite, int ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    return select(0, forWrite ? NULL : &set, forWrite ? &set : NULL, NULL, &tv) > 0;
}
} // namespace

CLoopbackServer::CLoopbackServer(Handler handler, int port, DWORD lifetimeMs, bool backlogOnly, const char* host)
    : m_handler(std::move(handler)), m_address(host), m_listener(INVALID_SOCKET), m_port(0),
      m_backlogOnly(backlogOnly), m_stop(false), m_connections(0)
{
    static CWinsockUser winsock;
    // "::1" listens on IPv6 alone, so that an IPv4 listener may share its port.
    bool v6 = m_address.find(':') != std::string::npos;
    sockaddr_in6 address6 = {};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    address6.sin6_port = htons(static_cast<u_short>(port));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(m_address.c_str());
    address.sin_port = htons(static_cast<u_short>(port));
    sockaddr* bound = v6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address);
    int len = v6 ? sizeof(address6) : sizeof(address);
    SOCKET s = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    BOOL yes = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    if (v6)
        setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&yes), sizeof(yes));
    if (bind(s, bound, len) != 0 || listen(s, backlogOnly ? 0 : 8) != 0) {
        closesocket(s);
        return;
    }
    getsockname(s, bound, &len);
    m_port = ntohs(v6 ? address6.sin6_port : address.sin_port);
    m_listener = s;
    m_thread = std::thread(&CLoopbackServer::Run, this, lifetimeMs);
}

CLoopbackServer::~CLoopbackServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener != INVALID_SOCKET)
        closesocket(m_listener);
    for (SOCKET filler : m_fillers)
        closesocket(filler);
}

int CLoopbackServer::UnusedPort()
{
    CLoopbackServer probe(nullptr);
    return probe.Port();
}

void CLoopbackServer::FillBacklog()
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(m_address.c_str());
    address.sin_port = htons(static_cast<u_short>(m_port));
    for (int i = 0; i < 8; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        m_fillers.push_back(s);
    }
    Sleep(200);
}

std::string CLoopbackServer::Url(const std::string& path) const
{
    std::string host = m_address.find(':') != std::string::npos ? "[" + m_address + "]" : m_address;
    return "http://" + host + ":" + std::to_string(m_port) + path;
}

std::vector<std::string> CLoopbackServer::Requests()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests;
}

bool CLoopbackServer::SendAll(SOCKET client, const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (m_stop)
            return false;
        if (!WaitSocket(client, true, 50))
            continue;
        int n = send(client, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

bool CLoopbackServer::WaitPeerClosed(SOCKET client, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!m_stop && GetTickCount() - start < ms) {
        if (!WaitSocket(client, false, 20))
            continue;
        char sink[4096];
        if (recv(client, sink, sizeof(sink), 0) <= 0)
            return true;
    }
    return false;
}

void CLoopbackServer::Stall(SOCKET client)
{
    WaitPeerClosed(client, INFINITE);
}

void CLoopbackServer::Run(DWORD lifetimeMs)
{
    DWORD start = GetTickCount();
    while (!m_stop && GetTickCount() - start < lifetimeMs) {
        if (m_backlogOnly || !WaitSocket(m_listener, false, 50)) {
            if (m_backlogOnly)
                Sleep(50);
            continue;
        }
        SOCKET client = accept(m_listener, NULL, NULL);
        if (client == INVALID_SOCKET)
            continue;
        ++m_connections;
        std::string request;
        DWORD begun = GetTickCount();
        while (request.find("\r\n\r\n") == std::string::npos && GetTickCount() - begun < 5000 && !m_stop) {
            if (!WaitSocket(client, false, 20))
                continue;
            char piece[2048];
            int n = recv(client, piece, sizeof(piece), 0);
            if (n <= 0)
                break;
            request.append(piece, n);
        }
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_requests.push_back(request);
        }
        if (m_handler)
            m_handler(*this, client, request);
        closesocket(client);
    }
    m_stop = true;
}
