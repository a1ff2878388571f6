#include "tls/OpenSsl.h"

#include <openssl/err.h>

std::string takeOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}
