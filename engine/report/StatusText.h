// The engine's status texts (code page 949 bytes) and the one way they reach the control's window.
#pragma once

#include <windows.h>

#include "engine/report/PlayerMessages.h"

#define TEXT_BAD_STATION "올바른 방송 주소가 아닙니다."
#define TEXT_SOCKET_FAILED "소켓 생성 실패."
#define TEXT_CONNECT_FAILED "연결 실패."
#define TEXT_NEED_WINSOCK2 "Winsock2의 설치가 필요합니다."
#define TEXT_BAD_ADDRESS "올바른 주소 형식이 아닙니다. 바른 형식: http://<host name>:[port][/path]."
#define TEXT_BAD_RESPONSE "서버가 올바르지 못한 응답을 해왔습니다. 주소를 확인해 보십시오."
#define TEXT_CANNOT_LISTEN "청취 불가: %s"
#define TEXT_CONNECTION_ENDED "연결이 종료되었습니다."
#define TEXT_RECEIVE_FAILED "음악방송 데이타를 받는데 실패하였습니다."
#define TEXT_PROBE_BADCRC "Badcrc error in header-scanning."
#define TEXT_CONNECT_TIMEOUT "연결 실패, 시관 초과."
#define TEXT_BAD_PLAYLIST "올바른 PLS 파일이 아닙니다."
#define TEXT_NO_SOUND_OUTPUT "사운드 출력을 초기화하지 못했습니다."
#define TEXT_NOT_FROM_THIS_PAGE "이 페이지에서는 허용되지 않는 주소입니다."
#define TEXT_SOUND_OUTPUT_FAILED "사운드 출력에 실패했습니다."
#define TEXT_TLS_UNTRUSTED "서버의 인증서를 신뢰할 수 없습니다."
#define TEXT_TLS_EXPIRED "서버의 인증서가 만료되었습니다."
#define TEXT_TLS_WRONG_NAME "서버의 인증서가 주소의 이름과 맞지 않습니다."
#define TEXT_TLS_FAILED "보안 연결을 맺지 못했습니다."
#define TEXT_HLS_NO_AUDIO "재생할 수 있는 오디오가 없는 HLS 방송입니다."
#define TEXT_HLS_ENCRYPTED "지원하지 않는 암호화 방식의 HLS 방송입니다."
#define TEXT_HLS_SEGMENT_SKIPPED "HLS 방송의 일부를 받지 못해 건너뜁니다."

// A status text posted from another thread is a heap copy (new char[]) that belongs to the
// receiver; this bit in lParam, above the level, says so.
#define PLAYER_TEXT_OWNED 0x10000

// Reports a status text to a window. On the window's own thread it is sent (handled before this
// returns); from any other thread it is posted as an owned copy, so that no engine thread ever
// waits for the window's thread, which may itself be waiting for the engine. A null window
// (none yet, or already gone) drops it.
void ReportStatusText(HWND window, const char* text, int level);

// The level of a WM_PLAYER_MESSAGE, as a 16-bit signed value.
inline short StatusTextLevel(LPARAM lParam) { return static_cast<short>(LOWORD(lParam)); }
