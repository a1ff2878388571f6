// A set-up step of a Qt test that must work: when it fails, the program stops
// with the step and the last error, as everything after it would only report
// consequences.
#pragma once

#include "engine/Platform.h"

#include <QtGlobal>

#define FIXTURE_STEP(step)                                                                         \
    if (!(step))                                                                                   \
    qFatal("%s failed: %s", #step, errorText(lastError()).c_str())
