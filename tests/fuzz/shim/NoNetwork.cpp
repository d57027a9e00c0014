// The network stream for the native Linux builds, which link no network: it never opens.
#include "engine/stream/HttpStream.h"
#include "engine/report/StatusText.h"

CHttpStream::CHttpStream()
    : m_pRing(nullptr), m_nMetaInterval(0), m_bEnded(1), m_hReaderThread(nullptr), m_hDataEvent(nullptr),
      m_hCloseEvent(nullptr), m_pGate(nullptr)
{
}
CHttpStream::~CHttpStream() {}
int CHttpStream::Open(HWND, const char*) { return 0; }
void CHttpStream::Close() {}
unsigned CHttpStream::Read(void*, unsigned, unsigned) { return 0; }
int CHttpStream::Seek(int, int) { return -1; }
int CHttpStream::Tell() { return 0; }
int CHttpStream::GetLength() { return -1; }

// No windows either: status texts go nowhere.
void ReportStatusText(HWND, const char*, int) {}
