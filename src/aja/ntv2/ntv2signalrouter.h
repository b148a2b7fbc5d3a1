// A set of routing-matrix connections, built up and then applied to a board.
#pragma once

#include <map>
#include <utility>

#include "aja/ntv2/ntv2enums.h"

using NTV2XptConnection = std::pair<NTV2InputXptID, NTV2OutputXptID>;
using NTV2XptConnections = std::map<NTV2InputXptID, NTV2OutputXptID>;

class CNTV2SignalRouter {
public:
    CNTV2SignalRouter() { Reset(); }
    // Input (destination) first, output (source) second; one source per input.
    bool AddConnection(const NTV2InputXptID signalInput,
                       const NTV2OutputXptID signalOutput = NTV2_XptBlack);
    bool RemoveConnection(const NTV2InputXptID signalInput, const NTV2OutputXptID signalOutput);
    bool HasConnection(const NTV2InputXptID signalInput, const NTV2OutputXptID signalOutput) const;
    bool HasInput(const NTV2InputXptID signalInput) const;
    void Reset() { mConnections.clear(); }
    ULWord GetNumberOfConnections() const { return static_cast<ULWord>(mConnections.size()); }
    bool IsEmpty() const { return mConnections.empty(); }
    NTV2XptConnections GetConnections() const { return mConnections; }

private:
    NTV2XptConnections mConnections;
};
