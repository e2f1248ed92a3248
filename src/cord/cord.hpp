#pragma once

#include "cord/codec.hpp"
#include "cord/error.hpp"
#include "cord/evolving.hpp"
#include "cord/set.hpp"
#include "cord/wire.hpp"
