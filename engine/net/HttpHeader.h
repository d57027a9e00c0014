// The stream reader's old name for the answer parsing, which now lives beside CHttpAnswer.
#pragma once

#include "engine/net/HttpAnswer.h"
