#pragma once
// What the shell draws with: the canvas, the element tree and the
// layout-and-draw pass with its frame records.

#include <zem/app/message.hpp>
#include <zem/app/types.hpp>
#include <zem/draw/canvas.hpp>
#include <zem/draw/geometry.hpp>
#include <zem/draw/hit_region.hpp>
#include <zem/draw/layout_and_draw.hpp>
#include <zem/draw/paint.hpp>
#include <zem/layout/length.hpp>
#include <zem/widget/element.hpp>
