' The control from a script host: created by ProgID, properties set and read, methods called.
Set k = CreateObject("KELPLAYERX.KelPlayerCtrl.1")
k.url = "http://127.0.0.1:9/radio"
WScript.Echo "url " & k.url
k.volume = 25
WScript.Echo "volume " & TypeName(k.volume)
k.Play
WScript.Echo "url after play " & k.url
k.Stop
WScript.Echo "buffer " & k.getBufferState
WScript.Echo "metadata [" & k.metadata & "]"
k.metadata = "ignored"
WScript.Echo "metadata [" & k.metadata & "]"
' A script host is no web page: getCount reads any host it is given.
If WScript.Arguments.Count > 0 Then WScript.Echo "count [" & k.getCount(WScript.Arguments(0)) & "]"
Set k = Nothing
WScript.Echo "done"
