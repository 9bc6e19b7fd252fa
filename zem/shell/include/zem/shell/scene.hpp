#pragma once
// What the shell draws with: the canvas, the element tree and the
// layout-and-draw pass with its frame records.

#include <zem/core/message.hpp>
#include <zem/shell/types.hpp>
#include <zem/canvas/canvas.hpp>
#include <zem/core/geometry.hpp>
#include <zem/frame/hit_region.hpp>
#include <zem/frame/layout_and_draw.hpp>
#include <zem/core/paint.hpp>
#include <zem/core/length.hpp>
#include <zem/widgets/element.hpp>
