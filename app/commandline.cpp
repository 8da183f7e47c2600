#include "commandline.h"

#include "caption.h"

namespace commandline {

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
    return QStringLiteral("terminal-kontrol %1.%2\n").arg(versionMajor).arg(versionMinor);
}

QString helpText(const QString &programDir)
{
    return QStringLiteral(
               "Kullanım: terminal-kontrol [--help | --version]\n"
               "\n"
               "Seri hatla bağlı kart okuyucu terminalin kontrol programı. Port penceresinde\n"
               "COM1..COM12 arasından port seçilip Tamam'a basılır; ana pencere portu açar ve\n"
               "her terminal komutu için bir düğme sunar. Terminalden gelenler \"Alınan\n"
               "Mesajlar\" bölümünde görünür.\n"
               "\n"
               "COMn       Programın klasöründeki COMn bağlantısının gösterdiği aygıttır, örneğin\n"
               "             ln -s /dev/serial/by-id/usb-... %1/COM3\n"
               "           Bağlantı yoksa /dev/COMn (bir udev kuralının SYMLINK+=\"COMn\" adı),\n"
               "           o da yoksa /dev/ttyS<n-1> olur (COM1 = /dev/ttyS0).\n"
               "           Kullanıcı dialout grubunda olmalıdır.\n"
               "Vxl00.Def  İsteğe bağlı, programın klasöründe: %1/Vxl00.Def\n"
               "           İlk satırı (iki satır varsa ikincisi) baud hızıdır, örneğin 9600.\n"
               "           Dosya yoksa 4800 baud; her zaman parite yok, 8 veri biti, 1 dur biti.\n"
               "\n"
               "  --help     bu yardımı gösterir\n"
               "  --version  sürümü gösterir\n")
        .arg(programDir);
}

} // namespace commandline
