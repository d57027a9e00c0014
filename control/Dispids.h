// Dispatch identifiers of _DKelplayer and _DKelplayerEvents, fixed for the control and its containers.
#pragma once

enum
{
    DISPID_KEL_VOLUME = 1,
    DISPID_KEL_URL = 2,
    DISPID_KEL_METADATA = 3,
    DISPID_KEL_PLAY = 4,
    DISPID_KEL_STOP = 5,
    DISPID_KEL_GETBUFFERSTATE = 6,
    DISPID_KEL_GETCOUNT = 7,
};
enum
{
    EVENTID_KEL_CHANGEBUFFERSTATE = 1,
    EVENTID_KEL_CHANGEMETADATA = 2,
};
