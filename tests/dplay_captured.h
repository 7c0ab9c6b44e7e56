// DirectPlay messages as a Wine 10 client and a host it joined exchanged them over TCP/IP, byte
// for byte: "client" ones are what the client sent, the others what the host sent. Ids: 0xA001
// the host's system player, 0xA002 PEER1, 0xA003 PEER2, 0xB001 the client's system player,
// 0xB002 its player "Skyrelay"; host TCP port 2300, client TCP port 2301.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace dplay_captured {

inline constexpr const char* EnumSessions = "34 00 b0 fa 02 00 08 fd 00 00 00 00 00 00 00 00 "
                                            "00 00 00 00 70 6c 61 79 02 00 0b 00 00 00 00 00 "
                                            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                                            "02 00 00 00";
inline constexpr const char* EnumSessionsReply = "92 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 "
                                                 "00 00 00 00 70 6c 61 79 01 00 0e 00 58 00 00 00 "
                                                 "00 00 00 00 7e 0e 1d 5a 34 12 de 4c 9a bc 01 23 "
                                                 "45 67 89 ab 00 00 00 00 00 00 00 00 00 00 00 00 "
                                                 "00 00 00 00 08 00 00 00 02 00 00 00 00 00 00 00 "
                                                 "00 00 00 00 00 00 00 00 00 00 00 00 78 56 34 12 "
                                                 "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                                                 "00 00 00 00 64 00 00 00 54 00 65 00 73 00 74 00 "
                                                 "20 00 53 00 65 00 73 00 73 00 69 00 6f 00 6e 00 "
                                                 "00 00";
inline constexpr const char* RequestPlayerId = "20 00 b0 fa 02 00 08 fd 00 00 00 00 00 00 00 00 "
                                               "00 00 00 00 70 6c 61 79 05 00 0b 00 09 00 00 00";
inline constexpr const char* RequestPlayerReply = "4c 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 "
                                                  "00 00 00 00 70 6c 61 79 07 00 0e 00 01 b0 00 00 "
                                                  "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                                                  "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                                                  "00 00 00 00 00 00 00 00 00 00 00 00";
inline constexpr const char* ClientAddForward = "86 00 b0 fa 02 00 08 fd 00 00 00 00 00 00 00 00 "
                                                "00 00 00 00 70 6c 61 79 13 00 0b 00 00 00 00 00 "
                                                "01 b0 00 00 00 00 00 00 1c 00 00 00 6c 00 00 00 "
                                                "50 00 00 00 09 00 00 00 01 b0 00 00 00 00 00 00 "
                                                "00 00 00 00 20 00 00 00 00 00 00 00 00 00 00 00 "
                                                "01 b0 00 00 30 00 00 00 0b 00 00 00 00 00 00 00 "
                                                "02 00 08 fd 00 00 00 00 00 00 00 00 00 00 00 00 "
                                                "02 00 09 2f 00 00 00 00 00 00 00 00 00 00 00 00 "
                                                "00 00 78 56 34 12";
inline constexpr const char* SuperEnumPlayersReply =
    "55 01 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 "
    "00 00 00 00 70 6c 61 79 29 00 0e 00 03 00 00 00 "
    "00 00 00 00 96 00 00 00 00 00 00 00 24 00 00 00 "
    "7c 00 00 00 00 00 00 00 58 00 00 00 00 00 00 00 "
    "7e 0e 1d 5a 34 12 de 4c 9a bc 01 23 45 67 89 ab "
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "08 00 00 00 02 00 00 00 00 00 00 00 00 00 00 00 "
    "00 00 00 00 00 00 00 00 78 56 34 12 00 00 00 00 "
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "54 00 65 00 73 00 74 00 20 00 53 00 65 00 73 00 "
    "73 00 69 00 6f 00 6e 00 00 00 10 00 00 00 0f 00 "
    "00 00 01 a0 00 00 04 00 00 00 0e 00 00 00 20 02 "
    "00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 02 "
    "00 09 2e 00 00 00 00 00 00 00 00 00 00 00 00 10 "
    "00 00 00 01 00 00 00 01 b0 00 00 04 00 00 00 0e "
    "00 00 00 20 02 00 08 fd 00 00 00 00 00 00 00 00 "
    "00 00 00 00 02 00 09 2f 00 00 00 00 00 00 00 00 "
    "00 00 00 00 10 00 00 00 08 00 00 00 02 a0 00 00 "
    "05 00 00 00 01 a0 00 00 50 00 45 00 45 00 52 00 "
    "31 00 00 00 20 02 00 08 fc 00 00 00 00 00 00 00 "
    "00 00 00 00 00 02 00 09 2e 00 00 00 00 00 00 00 "
    "00 00 00 00 00";
inline constexpr const char* ClientCreatePlayer = "98 00 b0 fa 02 00 08 fd 00 00 00 00 00 00 00 00 "
                                                  "00 00 00 00 70 6c 61 79 08 00 0b 00 00 00 00 00 "
                                                  "02 b0 00 00 00 00 00 00 1c 00 00 00 00 00 00 00 "
                                                  "62 00 00 00 08 00 00 00 02 b0 00 00 12 00 00 00 "
                                                  "00 00 00 00 20 00 00 00 00 00 00 00 00 00 00 00 "
                                                  "01 b0 00 00 30 00 00 00 0b 00 00 00 00 00 00 00 "
                                                  "53 00 6b 00 79 00 72 00 65 00 6c 00 61 00 79 00 "
                                                  "00 00 02 00 08 fd 00 00 00 00 00 00 00 00 00 00 "
                                                  "00 00 02 00 09 2f 00 00 00 00 00 00 00 00 00 00 "
                                                  "00 00 00 00 00 00 00 00";
inline constexpr const char* HostCreatePlayer = "92 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 "
                                                "00 00 00 00 70 6c 61 79 08 00 0e 00 00 00 00 00 "
                                                "03 a0 00 00 00 00 00 00 1c 00 00 00 00 00 00 00 "
                                                "5c 00 00 00 08 00 00 00 03 a0 00 00 0c 00 00 00 "
                                                "00 00 00 00 20 00 00 00 00 00 00 00 00 00 00 00 "
                                                "01 a0 00 00 30 00 00 00 0e 00 00 00 00 00 00 00 "
                                                "50 00 45 00 45 00 52 00 32 00 00 00 02 00 08 fc "
                                                "00 00 00 00 00 00 00 00 00 00 00 00 02 00 09 2e "
                                                "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                                                "00 00";
inline constexpr const char* GamePeer1 = "56 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 "
                                         "00 00 00 00 02 a0 00 00 02 b0 00 00 19 10 00 00 "
                                         "01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 "
                                         "11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f 20 "
                                         "21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f 30 "
                                         "31 32 33 34 35 36";
inline constexpr const char* GamePeer2 = "20 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 "
                                         "00 00 00 00 03 a0 00 00 02 b0 00 00 31 00 00 00";
inline constexpr const char* Ping = "24 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 "
                                    "00 00 00 00 70 6c 61 79 16 00 0e 00 01 a0 00 00 "
                                    "04 03 02 01";
inline constexpr const char* PingReply = "24 00 b0 fa 02 00 08 fd 00 00 00 00 00 00 00 00 "
                                         "00 00 00 00 70 6c 61 79 17 00 0b 00 01 b0 00 00 "
                                         "04 03 02 01";
inline constexpr const char* DeletePlayer = "30 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 "
                                            "00 00 00 00 70 6c 61 79 0b 00 0e 00 00 00 00 00 "
                                            "03 a0 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
inline constexpr const char* EchoGuaranteed =
    "24 00 b0 fa 02 00 08 fd 00 00 00 00 00 00 00 00 "
    "00 00 00 00 02 b0 00 00 02 a0 00 00 45 43 48 4f 2d 47 00 00";
inline constexpr const char* EchoUnguaranteed = "02 b0 00 00 02 a0 00 00 45 43 48 4f 2d 55 00 00";

// The bytes of a hex dump ("34 00 b0 ...").
inline std::vector<std::uint8_t> Hex(const char* text) {
    std::vector<std::uint8_t> bytes;
    unsigned value = 0;
    int consumed = 0;
    while (std::sscanf(text, " %2x%n", &value, &consumed) == 1) {
        bytes.push_back(static_cast<std::uint8_t>(value));
        text += consumed;
    }
    return bytes;
}

} // namespace dplay_captured
