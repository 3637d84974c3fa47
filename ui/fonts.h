#pragma once

namespace qvr {

// The window is laid out in pixels for Tahoma 8 pt. Registers the
// Tahoma-compatible faces (regular and bold) where the system has them;
// elsewhere "Tahoma" falls back to DejaVu Sans. Returns whether Tahoma was
// registered.
bool RegisterWindowFonts();

} // namespace qvr
