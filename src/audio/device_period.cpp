#include "audio/device_period.hpp"

bool parseDevicePeriod(const std::string& text, unsigned& frames) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + unsigned(c - '0');
    }
    if (value < kMinDevicePeriodFrames || value > kMaxDevicePeriodFrames) {
        return false;
    }
    frames = value;
    return true;
}
