// The few Windows names the decoder pump uses, for its native Linux builds (fuzzing, benchmark).
#pragma once

#include <pthread.h>

typedef int BOOL;
typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef long LONG;
typedef unsigned long WPARAM;
typedef long LPARAM;
typedef long LRESULT;
typedef void* HANDLE;
typedef struct CFuzzWindow* HWND;
typedef pthread_mutex_t CRITICAL_SECTION;

#define WM_APP 0x8000
#define LOWORD(l) (static_cast<unsigned short>(static_cast<unsigned long>(l) & 0xFFFF))
#define __stdcall
#define TRUE 1
#define FALSE 0

inline void InitializeCriticalSection(CRITICAL_SECTION* lock) { pthread_mutex_init(lock, nullptr); }
inline void EnterCriticalSection(CRITICAL_SECTION* lock) { pthread_mutex_lock(lock); }
inline void LeaveCriticalSection(CRITICAL_SECTION* lock) { pthread_mutex_unlock(lock); }
// The fuzzing build has no windows: reports go nowhere.
inline BOOL PostMessageA(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
inline LRESULT SendMessageA(HWND, UINT, WPARAM, LPARAM) { return 0; }
