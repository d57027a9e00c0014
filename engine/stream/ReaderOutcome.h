// How a stage of the stream reader's run ends, for the stages and the HLS reader it hands over to.
#pragma once

enum
{
    RUN_GOES_ON,
    RUN_REDIRECTED,   // the run starts again at the answer's Location
    RUN_CLOSED,       // the owner closed the stream: nothing to tell
    RUN_SERVER_ENDED, // the server closed the connection, or the station's list ended or stopped
    RUN_BROKEN,       // a receive failed
    RUN_STALLED,      // a connection that had sent audio went quiet for the stall limit
    RUN_UNREACHED,    // nobody answered within the budget: the text kept for it, if any, tells why
    RUN_RAN_DRY,      // a reconnect outlasted the ring, or brought frames of another kind than the
                      // decoder plays: the lost connection's outcome stands
    RUN_FAILED,       // the text kept for it, if any, tells why
    RUN_FORBIDDEN,    // the address rule refused the address
    RUN_PLAYLIST      // the answer was a list: its entries go to the window
};
