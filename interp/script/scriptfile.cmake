# Encrypted script files need libcrypto (AES-128-CBC, HMAC-SHA1).
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(krvcore PUBLIC OpenSSL::Crypto)
