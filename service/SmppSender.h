#pragma once
// The engine's SMPP sender: TNerivaleSvcMain::SendSMPPPage (SrvcMainFrm.h,
// defined in SmppSender.cpp) turns the page's provider and recipient texts into
// an SmppRequest, adds the engine's cancel test, log and timing, and runs the
// sessions of protocols/SmppSession (SMPP 3.4 or CIMD2). Nothing of the wire is
// decided here.
#include "protocols/SmppSession.h"
