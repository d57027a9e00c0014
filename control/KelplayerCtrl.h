// The kelplayerx control: URL list, play and stop commands to its worker, and the engine's reports as events.
#pragma once

#include <windows.h>

#include <list>
#include <string>

#include "audio/DeviceVolume.h"
#include "Dispids.h"
#include "Handle.h"
#include "OleControl.h"
#include "engine/report/ReportReceiver.h"
#include "engine/worker/PlayerHost.h"
#include "engine/net/ReconnectPacing.h"

class CMixerVolume;
class CSocketClient;

class CKelplayerCtrl : public COleControl, public CPlayerHost, private CReportReceiver
{
public:
    CKelplayerCtrl();
    ~CKelplayerCtrl() override;

    // The class factory's creation function.
    static HRESULT CreateInstance(REFIID iid, void** object);
    // The class factory's registration function.
    static HRESULT UpdateRegistry(bool registering);

    // CPlayerHost
    HWND GetPlayerWindow() const override { return GetReportWindow(); }
    HANDLE GetStartEvent() const override { return m_hStartEvent.Get(); }
    const CDeviceVolume* GetDeviceVolume() const override { return &m_deviceVolume; }

    // _DKelplayer
    short GetVolume();
    void SetVolume(short value);
    std::string GetUrl() const;
    void SetUrl(const std::string& value);
    std::string GetMetadata() const;
    void SetMetadata(const std::string& value);
    void Play();
    void Stop();
    short GetBufferState() const { return m_nBufferState; }
    std::string GetCount(const std::string& countUrl);

protected:
    void OnGetProperty(DISPID id, VARIANT* value) override;
    void OnSetProperty(DISPID id, const VARIANT& value) override;
    void OnCallMethod(DISPID id, const std::vector<VARIANT>& args, VARIANT* result) override;
    bool OnReportMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // CReportReceiver: the engine's reports, from OnReportMessage.
    void OnPlayerReport(const CPlayerReport& report) override;

private:
    bool StartWorker();
    // False, with a status text, when a hosting page may not read the address.
    bool IsFetchAllowed(const std::string& url);
    // True when a page on a public host (or one that hides its address) hosts the control: it
    // then connects to public addresses only.
    bool IsOnPublicPage();
    // The one-shot fetch under the hosting page's rules: false when the page refused the
    // address or a redirect (the refusal has been shown), else *body is what was fetched, ""
    // when nothing was. *source (when given) gets the address that answered, after any redirects.
    bool Fetch(const std::string& url, std::string* body, std::string* source);
    // Starts the entry at the play position: the body of Play, also run by the continuation.
    void PlayNext();
    // A stream ended or could not be opened: the next attempt, at once or after a pause.
    void OnEnded();
    void CancelPause();
    // Posts a play or stop command to the worker, counting it.
    bool PostPlayOrStop(UINT command, WPARAM wParam, LPARAM lParam);
    // A report of a stream that the worker closed for a later command: said too late to be true.
    bool IsStale(const CPlayerReport& report) const;
    void OnBufferState(WPARAM wParam);
    void OnMetadata(const char* text);
    void OnPlaylist(const char* text);
    void OnStatusText(const char* text, short level);

    CHandle m_hStartEvent;
    short m_nMessageLevel;
    BOOL m_bStopped;
    BOOL m_bWinsockStarted;
    short m_nBufferState;
    std::string m_metadata; // the last title, "" before any
    CHandle m_hWorkerThread;
    DWORD m_dwWorkerThreadId;
    // Set on this thread (through m_pMixer), read on the worker's when it opens a device.
    CDeviceVolume m_deviceVolume;
    CMixerVolume* m_pMixer;
    CSocketClient* m_pSocket;
    std::list<std::string> m_urlList;
    std::list<std::string>::iterator m_posPlay; // m_urlList.end() when the list is empty
    // The url as the container set it and the address it became: read back while that address plays.
    std::wstring m_urlText;
    std::string m_urlAddress;

    // The status text being announced, while its ChangeMetadata event runs.
    const char* m_pszStatusText;

    // Automatic continuation: failed attempts in a row make the next one wait.
    CReconnectPacing m_pacing;
    BOOL m_bAttemptPlayed; // the worker started a device for the attempt now running
    BOOL m_bPausing;       // the pause timer runs; the next attempt starts when it fires
    BOOL m_bListAnswered;  // the attempt now running was answered with a playlist, now the URL list
    int m_nListAnswers;    // such answers in a row since the container's last url or Play, or since audio played

    // Play and stop commands posted to the worker, and how many of them it has taken by its
    // last WM_PLAYER_TAKEN: while they differ, what its streams report is left over.
    DWORD m_dwCommandsPosted;
    DWORD m_dwCommandsTaken;
};
