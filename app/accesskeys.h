#pragma once

class QAbstractButton;

namespace accesskeys {

// The button's access key clicks it at once, while its press still shows for a moment:
// the toolkit would hold the click back until its press animation ends. A mouse press or
// release reaches the routine without first waiting for the button to be drawn.
void clickAtOnce(QAbstractButton *button);

} // namespace accesskeys
