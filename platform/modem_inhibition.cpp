#include "platform/modem_inhibition.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <cstdlib>

namespace zn::platform {

namespace {

const QString kService = "org.freedesktop.ModemManager1";
const QString kPath = "/org/freedesktop/ModemManager1";
const QString kModem = "org.freedesktop.ModemManager1.Modem";
constexpr int kTimeoutMs = 3000;

// The device's name below /dev ("ttyACM0", "pts/5"), as ModemManager names ports.
QString PortName(const std::string& devicePath)
{
    std::string real = devicePath;
    if (char* r = ::realpath(devicePath.c_str(), nullptr)) {
        real = r;
        std::free(r);
    }
    if (real.rfind("/dev/", 0) == 0)
        real = real.substr(5);
    return QString::fromStdString(real);
}

// The variant's string, or the names of an a(su) port list.
QStringList Strings(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>()) {
        QStringList out;
        const QDBusArgument arg = value.value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString name;
            uint type = 0;
            arg.beginStructure();
            arg >> name >> type;
            arg.endStructure();
            out << name;
        }
        arg.endArray();
        return out;
    }
    return {value.toString()};
}

// uid of the modem whose ports include `port`: GetManagedObjects, a{oa{sa{sv}}} read by hand.
QString ModemUid(QDBusConnection& bus, const QString& port, std::string* error)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
    QDBusMessage reply = bus.call(call, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (error)
            *error = reply.errorMessage().toStdString();
        return {};
    }
    const QDBusArgument objects = reply.arguments().first().value<QDBusArgument>(); // const: the reading calls
    QString found;
    objects.beginMap();
    while (!objects.atEnd()) {
        QDBusObjectPath path;
        objects.beginMapEntry();
        objects >> path;
        objects.beginMap();
        while (!objects.atEnd()) {
            QString interface;
            QVariantMap properties;
            objects.beginMapEntry();
            objects >> interface >> properties;
            objects.endMapEntry();
            if (interface != kModem || !found.isEmpty())
                continue;
            QStringList ports = Strings(properties.value("PrimaryPort")) + Strings(properties.value("Ports"));
            QString shortName = port.mid(port.lastIndexOf('/') + 1);
            if (ports.contains(port) || ports.contains(shortName))
                found = properties.value("Device").toString();
        }
        objects.endMap();
        objects.endMapEntry();
    }
    objects.endMap();
    return found;
}

bool CallInhibit(const QString& uid, bool inhibit, std::string* error)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, "InhibitDevice");
    call << uid << inhibit;
    QDBusMessage reply = bus.call(call, QDBus::Block, kTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = reply.errorMessage().toStdString();
    return false;
}

} // namespace

std::unique_ptr<ModemInhibition> ModemInhibition::Inhibit(const std::string& devicePath, std::string* error)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService).value())
        return nullptr;
    QString uid = ModemUid(bus, PortName(devicePath), error);
    if (uid.isEmpty() || !CallInhibit(uid, true, error))
        return nullptr;
    return std::unique_ptr<ModemInhibition>(new ModemInhibition(uid.toStdString()));
}

ModemInhibition::~ModemInhibition() { CallInhibit(QString::fromStdString(uid_), false, nullptr); }

} // namespace zn::platform
