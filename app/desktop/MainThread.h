#pragma once
// The main-thread check lives in the model library (the model asserts it too); the
// desktop's and windows' code may include it from here.

#include "model/MainThread.h"
