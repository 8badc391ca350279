#pragma once
// A platform unit reaching up into the service: the layer check must refuse it.
#include "foundation/Clock.h"
#include "service/SrvcMainFrm.h"
