#include "programoptions.h"

#include "buildinfo.h"
#include "portmap.h"
#include "settingsfile.h"

namespace programoptions {

Request request(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--help"))
            return Request::Help;
        if (argument == QLatin1String("--version"))
            return Request::Version;
    }
    return Request::Run;
}

QString versionText()
{
    return QStringLiteral("terminal-kontrol %1\n").arg(QLatin1String(programVersion));
}

QString helpText(const QString &programDir)
{
    // The folders as the link searches them, the user's first.
    QString maps;
    QStringList settings;
    for (const QString &folder : settingsfile::configFolders()) {
        maps += QStringLiteral("             %1/%2\n").arg(folder, QLatin1String(portmap::fileName));
        settings << QStringLiteral("%1/%2").arg(folder, QLatin1String(settingsfile::fileName));
    }
    return QStringLiteral("Kullanım: terminal-kontrol [--help | --version]\n"
                          "\n"
                          "Seri hatla bağlı kart okuyucu terminalin kontrol programı. Port penceresinde\n"
                          "COM1..COM12 arasından port seçilip Tamam'a basılır; ana pencere portu açar ve\n"
                          "her terminal komutu için bir düğme sunar. Terminalden gelenler \"Alınan\n"
                          "Mesajlar\" bölümünde görünür.\n"
                          "\n"
                          "COMn       Sırayla: programın klasöründeki COMn bağlantısının gösterdiği aygıt,\n"
                          "             ln -s /dev/serial/by-id/usb-... %1/COM3\n"
                          "           kullanıcının kendi bağlantısı (terminal-kontrol-sim'in),\n"
                          "             $XDG_RUNTIME_DIR/terminal-kontrol/COMn\n"
                          "           kullanıcının, sonra makinenin port haritasındaki COMn satırı,\n"
                          "%2"
                          "           ([ports] bölümünde COMn=HEDEF; HEDEF bir aygıt yolu,\n"
                          "           rfc2217://SUNUCU:PORT ya da socket://SUNUCU:PORT: ağdaki seri port\n"
                          "           sunucusu), /dev/COMn (bir udev kuralının SYMLINK+=\"COMn\" adı),\n"
                          "           en sonda /dev/ttyS<n-1> (COM1 = /dev/ttyS0).\n"
                          "           Kullanıcı dialout grubunda olmalıdır.\n"
                          "Vxl00.Def  İsteğe bağlı; ilk bulunan kullanılır: %1/Vxl00.Def,\n"
                          "           %3\n"
                          "           İlk satırı (iki satır varsa ikincisi) baud hızıdır, örneğin 9600.\n"
                          "           Dosya yoksa 4800 baud; her zaman parite yok, 8 veri biti, 1 dur biti.\n"
                          "\n"
                          "  --help     bu yardımı gösterir\n"
                          "  --version  sürümü gösterir\n")
        .arg(programDir, maps, settings.join(QStringLiteral(",\n           ")));
}

} // namespace programoptions
