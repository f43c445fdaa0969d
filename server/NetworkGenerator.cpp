#include "NetworkGenerator.h"

namespace orvane::server {

NetworkDefinition generateNetwork(const GeneratorSettings& settings) {
    NetworkDefinition network;
    network.name = QStringLiteral("Generated network of %1 items").arg(settings.items);
    ControlDefinition control;
    control.topic = settings.topic;
    control.description = QStringLiteral("Generated control");
    control.systemId = QStringLiteral("DX-9000 S/N 90001");
    control.applicationId = QStringLiteral("Load Test 1.0");
    control.productId = QStringLiteral("DX9000-GEN");
    control.configurationId = QStringLiteral("CFG-GEN");
    control.programBlocks.push_back({0x00010000, 0x00010000});
    const int liveItems = settings.liveItems >= 0 ? settings.liveItems : settings.items / 10;
    const int perBlock = std::max(1, settings.itemsPerBlock);
    control.items.reserve(static_cast<size_t>(settings.items));
    // Live items come first so that a benchmark advising the first N items
    // gets moving values.
    for (int i = 0; i < settings.items; ++i) {
        ItemDefinition item;
        const int block = i / perBlock;
        const int field = i % perBlock;
        const bool live = i < liveItems;
        if (live) {
            item.name = QStringLiteral("Live %1.Sensor %2.Value %3")
                            .arg(block / 8 + 1)
                            .arg(block % 8 + 1)
                            .arg(field + 1);
            item.itemClass = ItemClass::Monitor;
            item.kind = ValueKind::Real;
            item.typeCode = kTypeCodeReal64;
            item.minText = QStringLiteral("-1000");
            item.maxText = QStringLiteral("1000");
            item.decimals = 2;
            item.value = QString::number(50 + (i % 100), 'f', 2);
            item.live.kind = LiveBehaviour::Kind::Noise;
            item.live.noise = 1.0;
            control.items.push_back(std::move(item));
            continue;
        }
        switch (block % 4) {
        case 0:
            item.name = QStringLiteral("Service: Header %1.Field %2").arg(block + 1).arg(field + 1);
            break;
        case 1:
            item.name =
                QStringLiteral("Configure: Block %1.Param %2").arg(block + 1).arg(field + 1);
            break;
        case 2:
            item.name = QStringLiteral("Area %1.Block %2.Field %3")
                            .arg(block / 16 + 1)
                            .arg(block + 1)
                            .arg(field + 1);
            break;
        default:
            item.name = QStringLiteral("Block %1.Field %2").arg(block + 1).arg(field + 1);
            break;
        }
        item.itemClass = block % 4 == 1 ? ItemClass::Configure
                         : i % 3 == 0   ? ItemClass::Monitor
                                        : ItemClass::Tunable;
        switch (i % 6) {
        case 0:
            item.kind = ValueKind::Real;
            item.typeCode = kTypeCodeReal64;
            item.minText = QStringLiteral("0");
            item.maxText = QStringLiteral("1000");
            item.value = QString::number((i * 7) % 1000, 'f', 2);
            break;
        case 1:
            item.kind = ValueKind::Integer;
            item.typeCode = kTypeCodeInteger32;
            item.minText = QStringLiteral("-100");
            item.maxText = QStringLiteral("10000");
            item.value = QString::number(i % 10000);
            break;
        case 2:
            item.kind = ValueKind::Boolean;
            item.typeCode = kTypeCodeBoolean;
            item.minText = QStringLiteral("0");
            item.maxText = QStringLiteral("1");
            item.value = QString::number(i % 2);
            break;
        case 3:
            item.kind = ValueKind::String;
            item.typeCode = kTypeCodeString;
            item.value = QStringLiteral("Text %1").arg(i);
            break;
        case 4:
            item.kind = ValueKind::Time;
            item.typeCode = kTypeCodeTime;
            item.minText = values::formatTime(0);
            item.maxText = values::formatTime(86399.99);
            item.value = values::formatTime(i % 86400);
            break;
        default:
            item.kind = ValueKind::Timer;
            item.typeCode = kTypeCodeTimer;
            item.minText = values::formatTime(0);
            item.maxText = values::formatTime(99999 * 3600 + 3599.99);
            item.value = values::formatTime(i % 7200);
            break;
        }
        control.items.push_back(std::move(item));
    }
    network.controls.push_back(std::move(control));
    return network;
}

} // namespace orvane::server
