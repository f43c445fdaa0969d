#pragma once

// Builds large network definitions for benchmarks and tests: one control with
// a chosen number of items spread over service headers, configure headers,
// categories and blocks, of every class and data type, some of them live.

#include "NetworkFile.h"

namespace orvane::server {

struct GeneratorSettings {
    QString topic = QStringLiteral("BIG1");
    int items = 20000;
    int liveItems = -1;     // -1: one item in ten
    int itemsPerBlock = 25; // fields under one header or block
};

// Deterministic: the same settings give the same network.
NetworkDefinition generateNetwork(const GeneratorSettings& settings);

} // namespace orvane::server
