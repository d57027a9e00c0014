' The installed control from a script host: created by its ProgID, playing the address given for a while.
Set k = CreateObject("KELPLAYERX.KelPlayerCtrl.1")
k.url = WScript.Arguments(0)
k.Play
WScript.Echo "playing " & k.url
' Wine's script host has no WScript.Sleep: the stream runs on the control's own threads meanwhile.
started = Timer
Do While Timer - started < 3
Loop
k.Stop
Set k = Nothing
WScript.Echo "done"
