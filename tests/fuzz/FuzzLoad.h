// Loading one file as the finder does, for the fuzz target and the replay of
// the inputs that once crashed it.
#pragma once

#include <string>

namespace tolvane::fuzz {

// Loads path through the picture registry (the class registered for its
// extension) and draws it into a 16 x 8 24-bit bitmap, as the fingerprint
// does. The framework's own exceptions (Exception and its descendants: a
// damaged or unsupported file) end it quietly; any other exception passes
// on, since a reader that raises one has met input it does not handle.
void LoadAndDraw(const std::string& path);

}  // namespace tolvane::fuzz
