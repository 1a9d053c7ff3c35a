#include "CimUrl.h"

#include <cctype>
#include <stdexcept>

#include "cim/CimHttp.h"
#include "cim/Exception.h"

CimUrl CimUrl::parse(const std::string& text) {
    CimUrl url;
    std::string rest;
    if (text.compare(0, 7, "http://") == 0) {
        rest = text.substr(7);
    } else if (text.compare(0, 8, "https://") == 0) {
        url.https = true;
        rest = text.substr(8);
    } else {
        throw std::invalid_argument("the URL must begin with http:// or https://");
    }
    // user info ends at the last "@" before the path: a password may hold "@"
    size_t slash = rest.find('/');
    size_t at = rest.rfind('@', slash == std::string::npos ? std::string::npos : slash);
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
        std::string userInfo = rest.substr(0, at);
        rest = rest.substr(at + 1);
        size_t colon = userInfo.find(':');
        url.user = Pegasus::cimxml::percentDecode(userInfo.substr(0, colon)).toStdString();
        if (colon != std::string::npos)
            url.password = Pegasus::cimxml::percentDecode(userInfo.substr(colon + 1)).toStdString();
    }
    slash = rest.find('/');
    if (slash == std::string::npos) throw std::invalid_argument("the URL has no /namespace:Class part");
    std::string hostPort = rest.substr(0, slash);
    std::string portText;
    const bool bracketed = !hostPort.empty() && hostPort[0] == '[';
    if (bracketed) {
        size_t close = hostPort.find(']');
        if (close == std::string::npos) throw std::invalid_argument("unbalanced [ in the host");
        url.host = hostPort.substr(1, close - 1);
        if (close + 1 < hostPort.size()) {
            if (hostPort[close + 1] != ':') throw std::invalid_argument("the URL's host is not a host name or address");
            portText = hostPort.substr(close + 2);
        }
    } else {
        size_t colon = hostPort.rfind(':');
        url.host = hostPort.substr(0, colon);
        if (colon != std::string::npos) portText = hostPort.substr(colon + 1);
    }
    if (url.host.empty()) throw std::invalid_argument("the URL has no host");
    // a name, an IPv4 address, or (in brackets) an IPv6 address with its zone
    for (char c : url.host) {
        bool nameChar = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
        if (!nameChar && !(bracketed && (c == ':' || c == '%')))
            throw std::invalid_argument("the URL's host is not a host name or address (\"@\", \"/\" and \":\" in "
                                        "user or password are given percent-encoded)");
    }
    url.port = url.https ? 5989 : 5988;
    if (!portText.empty()) {
        size_t used = 0;
        unsigned long port = 0;
        try {
            port = std::stoul(portText, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != portText.size() || port == 0 || port > 65535)
            throw std::invalid_argument("bad port (give user and password percent-encoded when they hold \"/\")");
        url.port = Pegasus::Uint32(port);
    }
    std::string objectPath = rest.substr(slash + 1);
    try {
        url.path = Pegasus::CIMObjectPath(Pegasus::String(objectPath));
    } catch (const Pegasus::Exception& e) {
        throw std::invalid_argument(e.getMessage().toStdString());
    }
    if (url.path.getNameSpace().isNull()) throw std::invalid_argument("the URL path needs a namespace: /root/ibm:Class");
    return url;
}

std::string CimUrl::display() const {
    std::string text = https ? "https://" : "http://";
    if (!user.empty()) text += Pegasus::cimxml::percentEncode(user).toStdString() + "@";
    text += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return text + ":" + std::to_string(port) + "/" + path.toString().toStdString();
}
