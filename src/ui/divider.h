#pragma once
// A plain horizontal rule in a half-transparent mid grey, which reads on
// light and dark windows alike (the sunken frame line is too bright on dark).

class QFrame;

namespace lumora::ui {

// `alpha` is the grey's opacity, 0…255.
QFrame* divider(int alpha = 90);

}  // namespace lumora::ui
