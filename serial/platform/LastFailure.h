#pragma once
// Why the calling thread's last call failed, in more words than errno has: a refused setting
// is named with its reason, since EINVAL alone cannot say which one.
#include <string>

namespace platform {

// Sets errno to code, records text for it and returns false, for `return Refuse(...)`.
bool Refuse(int code, std::string text);
// The recorded text while errno still holds the code it was recorded with; empty otherwise.
std::string RefusalText(int code);
void ForgetRefusal();

}  // namespace platform
