#pragma once
// The engine's SNPP sender: TNerivaleSvcMain::SendSNPPPage (SrvcMainFrm.h,
// defined in SnppSender.cpp) turns the page's provider and recipient texts into
// an SnppRequest, adds the engine's cancel test, log and timing, and runs the
// dialogue of protocols/SnppSession. Nothing of the wire is decided here.
#include "protocols/SnppSession.h"
