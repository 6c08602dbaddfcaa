#include "wifisink.h"

#include "cls_wifi.h"

#include <QMetaMethod>

WifiSink::WifiSink(cls_wifi &wifi)
{
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("hit()"));
    for (int id = 0; QObject *o = wifi.class_object(id); ++id) {
        const QMetaObject *mo = o->metaObject();
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
            if (mo->method(i).methodType() == QMetaMethod::Signal)
                connect(o, mo->method(i), this, slot);
    }
    connect(&wifi, &cls_wifi::parsed_message_str, this, &WifiSink::hit);
    connect(&wifi, &cls_wifi::parsed_message_data, this, &WifiSink::hit);
}
