// One non-blocking IPv4 TCP client socket that reports its own failures to a window.
#pragma once

#include <winsock2.h>
#include <windows.h>

class CTlsChannel;

class CSocketClient
{
public:
    // wake (may be null): an event that, once set, ends a name lookup at once, silently.
    explicit CSocketClient(HWND owner, HANDLE wake = NULL);
    virtual ~CSocketClient();

    CSocketClient(const CSocketClient&) = delete;
    CSocketClient& operator=(const CSocketClient&) = delete;

    // 1 when connected at once; otherwise 0 with *inProgress 1 while the connection is being
    // made, or 0 when it failed (the failure has been reported, unless the wake event ended it).
    int Connect(const char* host, int port, int* inProgress);
    // A name lookup that takes longer than this fails as a time-out; INFINITE until set.
    void SetLookupLimit(DWORD ms) { m_dwLookupLimit = ms; }
    // Refuse addresses on private networks, judged on the address a name resolved to.
    void SetPublicOnly(bool publicOnly) { m_bPublicOnly = publicOnly; }
    // True when the last Connect was refused by that rule (the refusal has been reported).
    bool Forbidden() const { return m_bForbidden; }
    // After a connection stands: TLS over it, the certificate checked for host. On failure the
    // socket is closed and the reason reported at level (unless the wake event ended it); 1
    // when the channel stands. From here on Send, Receive and the waits speak through it.
    int StartTls(const char* host, DWORD limitMs, int level);
    int Send(const char* data, int len);
    int Receive(char* buf, int size);
    // True when the last Receive failed only because nothing was there to take: no error, the
    // caller waits again.
    bool WouldBlock() const { return m_bWouldBlock; }
    // 1 when the pending connection stands; a refused one is reported and closes the socket.
    int WaitWritable(int timeoutMicroseconds, int* timedOut);
    // True when the last WaitWritable failed in select itself (not reported; the socket is closed).
    bool WaitFailed() const { return m_bWaitFailed; }
    int WaitReadable(int timeoutMicroseconds);
    // As above, but also returns 0 as soon as wake is set: a thread can sleep on the socket for
    // long and still be ended at once by another thread.
    int WaitReadable(int timeoutMicroseconds, HANDLE wake);

private:
    void CloseSocket();
    int WaitSocketReadable(int timeoutMicroseconds);
    int WaitSocketReadable(int timeoutMicroseconds, HANDLE wake);

    HWND m_hOwner;
    HANDLE m_hWake;
    DWORD m_dwLookupLimit;
    bool m_bPublicOnly;
    bool m_bForbidden;
    SOCKET m_socket;
    bool m_bWaitFailed;
    bool m_bWouldBlock;
    HANDLE m_hNetEvent; // auto-reset, set by Winsock on FD_READ or FD_CLOSE; none until the first wait
    CTlsChannel* m_pTls;  // the TLS channel over the socket; none for plain HTTP
};

// Starts Winsock 2.0; 1 when it is ready. A missing Winsock 2 is reported to the window.
int StartWinsock(HWND window);
