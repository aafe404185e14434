#pragma once
// The full card number, needed only until a transaction file carrying it is accepted, is kept
// encrypted (AES-256-GCM from OpenSSL's libcrypto) under a key that never lives in the home folder:
// the service's systemd credential "card-key", or a key file outside the home folder for a terminal
// started by hand. (What people and logs see goes through support/cardmask.h.) Texts are
// Windows-1252 bytes.

#include "support/cardmask.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// A key set: keys by id, the newest encrypting, the older ones decrypting rows stored under them.
struct CardKey {
    int id = 0;
    std::string key;   // 32 bytes
};
// Where the keys come from: the file they live in, and whether it may be written (a systemd
// credential may not).
struct CardKeySource {
    QString path;
    bool writable = true;
    QString what;   // "the service's credential card-key", "--card-key", "the default key file"
};

// The source in force: `--card-key FILE` when given, else the service's credential
// ($CREDENTIALS_DIRECTORY/card-key) when it is there, else $XDG_CONFIG_HOME/tollan/card.key.
CardKeySource CardKey_Source(const QString& option);
// Reads the key set of `source` and puts it in force. A missing default key file is created with
// a random key (mode 0600) when `mayCreate`; `created` then says so. False with `why` when there
// is no usable key: the terminal then refuses card data until it has one.
bool CardKey_Open(const CardKeySource& source, bool mayCreate, bool* created, std::string& why);
// Puts `keys` in force (tests, the rotation); empty: none.
void CardKey_Use(std::vector<CardKey> keys);
const std::vector<CardKey>& CardKey_Keys();
// The key set cannot serve the rows (missing, or a key a row was stored under is not in it or is
// not that key): set at start-up, cleared when a good key set is in force.
void CardKey_SetUnusable(std::string why);
// True when card data can be stored and read back; otherwise `why` (when given) says why.
bool CardKey_Usable(std::string* why = nullptr);
// Reports "Kaardiandmete võti puudub" with `why`, once for each cause however often it is met.
void CardKey_Report(const std::string& why);

// The key-set file's text: "# ..." lines and "<id> <base64 key>" lines, the newest last.
std::string CardKey_Format(const std::vector<CardKey>& keys);
std::optional<std::vector<CardKey>> CardKey_Parse(std::string_view text, std::string& why);
// Writes the key set to `path` whole (a new file renamed over it), mode 0600.
bool CardKey_Save(const QString& path, const std::vector<CardKey>& keys, std::string& why);
// A new random key with the next id.
CardKey CardKey_New(const std::vector<CardKey>& keys);

// The card number encrypted under the newest key: base64 of nonce, cipher text and tag, and the
// key's id; the masked number is bound to it (associated data), so a sealed number cannot be moved
// to another row. Nothing when no key is in force.
struct SealedPan {
    std::string blob;
    int keyId = 0;
};
std::optional<SealedPan> Card_Seal(std::string_view pan, std::string_view bound);
// The number back, when the key `keyId` is in force and the blob is intact and bound to `bound`.
std::optional<std::string> Card_Open(std::string_view blob, int keyId, std::string_view bound);
// The same with a key given (the rotation: old key to new).
std::optional<SealedPan> Card_SealWith(const CardKey& key, std::string_view pan, std::string_view bound);
std::optional<std::string> Card_OpenWith(const CardKey& key, std::string_view blob, std::string_view bound);

} // namespace tollan
