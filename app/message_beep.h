// The system beep, behind one function so that tests can count beeps.
#pragma once

#include <functional>

void MessageBeep(unsigned type);

// Replaces what MessageBeep does; an empty handler restores the real beep.
void SetMessageBeepHandler(std::function<void()> handler);
