#pragma once

#include "model/StepDrawing.h"

class QPainter;

// Paints a drawing list as GDI would: fills and frames exclude their right and bottom edges,
// lines leave out their end point.
void PaintDrawList(QPainter& painter, const DrawList& list);
