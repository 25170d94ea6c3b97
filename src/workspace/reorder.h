#pragma once
// Moving the selected thumbnail one place up or down the sequence: it exchanges number and
// screen position with its neighbour through a temporary marker number.

namespace sorowa {

class TMdiFrame;

// The marker number a window carries for the moment of an exchange: 999 while no real
// number can be 999, otherwise 0, which is never a sequence number.
int TemporaryMarker(int windowCount);

// Exchanges the frame's active thumbnail with the one numbered one less (up) or one more
// (down). Does nothing at either end of the sequence.
void ExchangeWithNeighbour(TMdiFrame* frame, bool up);

// The command of the Up and Down buttons and keys: a selection of several moves one place
// as a block (each selected window one place); a single one is exchanged as above.
void MoveSelectionOnePlace(TMdiFrame* frame, bool up);

} // namespace sorowa
