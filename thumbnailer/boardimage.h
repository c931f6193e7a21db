// The picture of a position: a wooden board with its lines, star points and stones, painted with
// Qt's raster painter on a QImage, which needs no display and no QGuiApplication.
#pragma once

#include "board.h"

#include <QImage>

// Returns a pixels x pixels picture of board: no text and no mark, so that two boards with the
// same stones give the same pixels. Star points: the usual ones of 9, 13 and 19, and for other
// sizes corner points on the fourth line from 12 lines up and on the third from 8 to 11, the centre
// of odd sizes from 7 and side points of odd sizes from 15; none below 7. Raises nothing.
QImage boardImage(const quillarn::Board &board, int pixels);
