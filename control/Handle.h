// Owner of one kernel handle (thread, event), closed when the owner goes.
#pragma once

#include <windows.h>

class CHandle
{
public:
    explicit CHandle(HANDLE handle = NULL) : m_handle(handle) {}
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    void Reset(HANDLE handle)
    {
        Close();
        m_handle = handle;
    }
    void Close()
    {
        if (m_handle != NULL && m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = NULL;
    }

private:
    HANDLE m_handle;
};
