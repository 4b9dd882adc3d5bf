#pragma once
// The server's six bandwidth limits, in KiB per second (0: no limit), as the bandwidth
// dialog edits them: for sending and for receiving, of the whole server, of one client host
// and of one connection. The server applies them only on paths whose option
// EnableBandWidthLimit is set.

#include "ConfigAccessor.h"

#include <array>

constexpr int kBandWidthLimitCount = 6;

// In this order: sending for the server, a host, a connection; then receiving for the same.
using BandWidthLimits = std::array<unsigned, kBandWidthLimitCount>;

// The stored limits under `setting` (a "Setting" node); a missing one, or one the server
// reads as no limit (below 0), as 0. Creates no node.
BandWidthLimits ReadBandWidthLimits(const CConfigAccessor& setting);

// Stores all six as one step of the tree.
void StoreBandWidthLimits(const CConfigAccessor& setting, const BandWidthLimits& limits);
