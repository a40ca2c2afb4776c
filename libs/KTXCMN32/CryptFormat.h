// Format constants of the cipher methods 2 and 4. Safe files store none of
// them, so changing any of them makes every existing safe unreadable.
#pragma once

namespace ktxcmn {

// PBKDF2-HMAC-SHA256 iterations that turn a key string into the AES-256 key.
constexpr unsigned long long kKeyIterations = 600000;
// PBKDF2 salts, one per method.
constexpr char kSaltMethod2[] = "KTSafe safe file key, method 2";
constexpr char kSaltMethod4[] = "KTSafe safe file key, method 4";
// The initial CFB register is the first 16 bytes of HMAC-SHA256 under the AES
// key over this label followed by the method number as one byte.
constexpr char kRegisterLabel[] = "KTSafe CFB register";

}  // namespace ktxcmn
