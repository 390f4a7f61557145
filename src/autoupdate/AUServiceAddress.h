// Which addresses the updater talks to: HTTPS anywhere, plain HTTP only on this computer
// (loopback addresses and "localhost"), so an answer or an archive cannot be swapped on the
// way by someone on the network.
#pragma once

#include <QUrl>

class AUServiceAddress {
public:
    static bool isAcceptable(const QUrl &url);
};
