#pragma once

namespace quillby {

// Whether the program may place its own windows. On Wayland the compositor alone places
// windows and a client's moves are not honoured, so centring and other moves are skipped there.
bool canPlaceWindows();

} // namespace quillby
