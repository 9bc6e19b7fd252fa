#pragma once
// The engine steps that live in their own headers, gathered for the callers
// that still include this one. Steps whose real versions are not in this
// tree yet are defined in engine_pending.cpp, each answering plainly that it
// is missing rather than pretending to succeed.

#include "install/boot_platform.hpp"
#include "install/df.hpp"
#include "install/encryption.hpp"
#include "install/staging.hpp"
#include "install/target_config.hpp"
#include "install/target_layout.hpp"
