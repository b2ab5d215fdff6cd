// Lets the window's controls paint their own background, so that a control that changes (the clock
// box, a button, the log's scroll bar) is repainted alone instead of together with the form's
// background, its group box's frame and title, and every label under it.
#pragma once

class QWidget;

// Switches on the background fill of every control under `form` whose background is the same plain
// colour that its parents show around it and that no other control overlaps: filling it gives exactly
// the pixels the parents painted there, so nothing on screen changes. Returns how many it switched on.
int MakeControlsOpaque(QWidget* form);
