#pragma once
// The messages shown for line errors, in the order the dialogs appear.
#include <string>
#include <vector>

#include "serial/ComTypes.h"

// The message of one line error.
const char* LineErrorText(TLineError error);
// One message per member of the set, in ordinal order.
std::vector<std::string> LineErrorTexts(TLineErrors errors);
