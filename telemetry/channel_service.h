// Where the channel-tracking service lives: the host of the tracking image
// that the channel report fetches. The system always asks the same host on
// port 80; a simulated machine may name another one (the fact
// "channel_service", "host" or "host:port"), which is how tests point the
// channel report at a loopback server.
#pragma once
#include <string>

extern const char RV_CHANNEL_SERVICE_HOST[];    // "track.refitter.net"

// "host" on port 80, else "host:port". Fails (logged) for a fact that is not
// a host name with an optional port in 1..65535.
int Rv_GetChannelServiceHost(std::string* pstrRetHostPort);
