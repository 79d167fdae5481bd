#pragma once

namespace quillby {

// Gives the graph and the alert row the roles assistive technologies expect: the graph is one
// image element, the alert row one group element read out by its label alone (its own text
// lines are not read again one by one). Safe to call repeatedly; the widgets call it when made.
void installStatusBarAccessibility();

} // namespace quillby
