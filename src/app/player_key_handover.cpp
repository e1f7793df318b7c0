#include "app/player_key_handover.hpp"

#include "leaderboard/leaderboard_client.hpp"
#include "prefs/player_keys.hpp"

int storeReceivedPlayerKeys(const std::string& prefsPath) {
    int stored = 0;
    for (const ReceivedPlayerKey& received : takeReceivedPlayerKeys()) {
        stored += savePlayerKey(prefsPath, received.baseUrl, received.name, received.key) ? 1 : 0;
    }
    return stored;
}
