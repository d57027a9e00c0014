// In-process loopback TCP server for byte-exact protocol tests; it stops by itself.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CLoopbackServer
{
public:
    // Called on the server thread for each connection, in turn, with the request text.
    using Handler = std::function<void(CLoopbackServer& server, SOCKET client, const std::string& request)>;

    // port 0 picks a free port. backlogOnly: listen but never accept (connections stay pending
    // once the backlog is full). host: a loopback address other than 127.0.0.1 stands for
    // another host; "::1" listens on the IPv6 loopback (no backlog filling there).
    explicit CLoopbackServer(Handler handler, int port = 0, DWORD lifetimeMs = 30000, bool backlogOnly = false,
                             const char* host = "127.0.0.1");
    ~CLoopbackServer();

    bool Listening() const { return m_listener != INVALID_SOCKET; }
    int Port() const { return m_port; }
    std::string Url(const std::string& path = "/") const;
    std::vector<std::string> Requests();
    int Connections() const { return m_connections; }
    bool Stopping() const { return m_stop; }

    // A loopback port that nothing listens on: bound once and released.
    static int UnusedPort();
    // For a backlogOnly server: queues connections of its own until the next one stays pending.
    void FillBacklog();

    // Sends everything, giving up when the server stops or the peer is gone.
    bool SendAll(SOCKET client, const std::string& bytes);
    // Waits, while the server runs, until the peer closes or ms have passed; true when closed.
    bool WaitPeerClosed(SOCKET client, DWORD ms);
    // Holds the connection open and silent until the server stops or the peer closes.
    void Stall(SOCKET client);

private:
    void Run(DWORD lifetimeMs);

    Handler m_handler;
    std::string m_address;
    SOCKET m_listener;
    int m_port;
    bool m_backlogOnly;
    std::atomic<bool> m_stop;
    std::atomic<int> m_connections;
    std::mutex m_lock;
    std::vector<std::string> m_requests;
    std::vector<SOCKET> m_fillers;
    std::thread m_thread;
};
