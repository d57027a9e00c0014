// A stand-in for Schannel and the certificate checks, keeping SSPI's buffer rules, for TLS channel tests.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "engine/net/TlsLibraries.h"

// Records on the wire: a 5-byte header (type, version 3.3, big-endian length), then the body.
enum
{
    FAKE_ALERT = 21,
    FAKE_HANDSHAKE = 22,
    FAKE_DATA = 23
};
// Application data: the plaintext masked byte by byte, then a 4-byte trailer.
const size_t FAKE_TRAILER = 4;

std::string FakeRecord(int type, const std::string& body);
std::string FakeDataRecord(const std::string& plain);
std::string FakeMessage(const std::string& body); // a handshake record
std::string FakeCloseNotify();

// The handshake messages the fake context understands, as handshake record bodies:
//   "continue"             SEC_I_CONTINUE_NEEDED, answered with "client step"
//   "finished"             SEC_E_OK
//   "certificate request"  SEC_I_INCOMPLETE_CREDENTIALS the first time, input untouched; then,
//                          given the very same input again, as "continue"
//   "ticket"               SEC_E_OK, nothing answered (a TLS 1.3 post-handshake message)
//   "hello request"        SEC_I_CONTINUE_NEEDED, answered with "client hello"
// Anything else fails with SEC_E_ILLEGAL_MESSAGE. The first call answers "client hello".
// One fake at a time: the table's functions reach the one that exists.
class CFakeSchannel
{
public:
    CFakeSchannel();
    ~CFakeSchannel();
    CFakeSchannel(const CFakeSchannel&) = delete;
    CFakeSchannel& operator=(const CFakeSchannel&) = delete;

    const CTlsLibraries* Libraries() const { return &m_libraries; }
    // Calls in order: "acquire", "isc:first", "isc:<message>", "isc:incomplete", "isc:shutdown",
    // "shutdown", "chain", "delete", "delete unknown", "free credentials".
    int Count(const std::string& call) const;

    bool m_bFailFirstCall;         // the first InitializeSecurityContext fails and creates nothing
    bool m_bCredentialsAsked;      // "certificate request" was answered once
    std::string m_askedWith;       // the input that first call had
    bool m_bShutdown;              // SCHANNEL_SHUTDOWN applied: the next call gives close_notify
    std::vector<std::string> m_calls;
    DWORD m_protocol;              // the protocol the handshake agreed, as SECPKG_ATTR_CONNECTION_INFO tells it
    DWORD m_enabledProtocols;      // what the credentials allowed
    std::vector<std::string> m_targets; // each InitializeSecurityContext's target name, "(none)" for none

private:
    SecurityFunctionTableA m_table;
    CTlsLibraries m_libraries;
};
