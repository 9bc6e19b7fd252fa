#pragma once
// The parts of the toolkit the wizard's pages are built from, in one place.

#include <zem/core/length.hpp>
#include <zem/shell/app.hpp>
#include <zem/theme/active.hpp>
#include <zem/theme/assets.hpp>
#include <zem/theme/theme.hpp>
#include <zem/widgets/element.hpp>
