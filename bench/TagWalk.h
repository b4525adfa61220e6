#pragma once
// The Eudora tag walk on hostile bodies: messages whose lines all open a tag that is
// never closed. The time must grow linearly with the number of lines.

#include <string>

namespace tarnwick::bench {

/// Converts one message of 5k, 10k, 20k, 40k and 80k "<x-html>unclosed" lines (and the
/// same with "<x-charset x" lines) with tags processed, prints the seconds of each and
/// checks the 80k-line case against its 0.2 s target. False when a conversion failed
/// or a target was missed.
bool runTagWalk(const std::string& dir);

} // namespace tarnwick::bench
