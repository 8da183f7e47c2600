#pragma once

class QAbstractButton;

namespace accesskeys {

// The button's access key clicks it at once, while its press still shows for a moment:
// the toolkit would hold the click back until its press animation ends.
void clickAtOnce(QAbstractButton *button);

} // namespace accesskeys
