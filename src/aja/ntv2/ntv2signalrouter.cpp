#include "aja/ntv2/ntv2signalrouter.h"

bool CNTV2SignalRouter::AddConnection(const NTV2InputXptID signalInput,
                                      const NTV2OutputXptID signalOutput) {
    if (signalInput < NTV2_FIRST_INPUT_CROSSPOINT || signalInput >= NTV2_LAST_INPUT_CROSSPOINT)
        return false;
    mConnections[signalInput] = signalOutput;
    return true;
}

bool CNTV2SignalRouter::RemoveConnection(const NTV2InputXptID signalInput,
                                         const NTV2OutputXptID signalOutput) {
    auto it = mConnections.find(signalInput);
    if (it == mConnections.end() || it->second != signalOutput) return false;
    mConnections.erase(it);
    return true;
}

bool CNTV2SignalRouter::HasConnection(const NTV2InputXptID signalInput,
                                      const NTV2OutputXptID signalOutput) const {
    auto it = mConnections.find(signalInput);
    return it != mConnections.end() && it->second == signalOutput;
}

bool CNTV2SignalRouter::HasInput(const NTV2InputXptID signalInput) const {
    return mConnections.count(signalInput) != 0;
}
