#pragma once
// The values the journal takes in and hands out.

#include "foundation/JournalEvent.h"
#include "foundation/OffloadRecord.h"
#include "foundation/Phase.h"
