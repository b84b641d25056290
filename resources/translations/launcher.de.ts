<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name></name>
    <message id="launcher.about.text">
        <source>About text</source>
        <translation>&lt;p&gt;&lt;b&gt;Kestrun Online Launcher&lt;/b&gt;&lt;/p&gt;&lt;p&gt;Copyright © %1–%2 Halvern GmbH. Alle Rechte vorbehalten.&lt;/p&gt;&lt;p&gt;Dieser Launcher ist mit dem Qt-Toolkit erstellt, das unter den Bedingungen der &lt;a href=&quot;%3&quot;&gt;GNU Lesser General Public License Version 3&lt;/a&gt; (%4) verwendet wird.&lt;/p&gt;&lt;p&gt;Der Quellcode der Qt-Basisbibliothek ist unter &lt;a href=&quot;%5&quot;&gt;%6&lt;/a&gt; erhältlich.&lt;/p&gt;</translation>
    </message>
    <message id="launcher.about.title">
        <source>About Kestrun Online</source>
        <translation>Über Kestrun Online</translation>
    </message>
</context>
<context>
    <name>QAbstractSpinBox</name>
    <message>
        <source>&amp;Step up</source>
        <translation>&amp;Erhöhen</translation>
    </message>
    <message>
        <source>Step &amp;down</source>
        <translation>&amp;Verringern</translation>
    </message>
</context>
<context>
    <name>QLineEdit</name>
    <message>
        <source>&amp;Undo</source>
        <translation>&amp;Rückgängig</translation>
    </message>
    <message>
        <source>&amp;Redo</source>
        <translation>&amp;Wiederherstellen</translation>
    </message>
    <message>
        <source>Cu&amp;t</source>
        <translation>&amp;Ausschneiden</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopieren</translation>
    </message>
    <message>
        <source>&amp;Paste</source>
        <translation>Einfü&amp;gen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
</context>
<context>
    <name>QPlatformTheme</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>QWidgetTextControl</name>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopieren</translation>
    </message>
    <message>
        <source>Copy &amp;Link Location</source>
        <translation>&amp;Linkadresse kopieren</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
</context>
<context>
    <name>orvik::launcher::TClientPackageLayoutItem</name>
    <message>
        <source>Pause</source>
        <translation>Pausieren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Limit download speed...</source>
        <translation>Download-Geschwindigkeit begrenzen...</translation>
    </message>
    <message>
        <source>Progress of %1</source>
        <translation>Fortschritt von %1</translation>
    </message>
    <message>
        <source>Not started</source>
        <translation>Nicht gestartet</translation>
    </message>
    <message>
        <source>Default Client</source>
        <translation>Standard-Client</translation>
    </message>
    <message>
        <source>Start %1 at once whenever the launcher starts</source>
        <translation>%1 bei jedem Start des Launchers sofort starten</translation>
    </message>
    <message>
        <source>Logo, opens %1</source>
        <translation>Logo, öffnet %1</translation>
    </message>
    <message>
        <source>Logo, installed</source>
        <translation>Logo, installiert</translation>
    </message>
    <message>
        <source>Logo, not installed</source>
        <translation>Logo, nicht installiert</translation>
    </message>
    <message>
        <source>Unavailable</source>
        <translation>Nicht verfügbar</translation>
    </message>
    <message>
        <source>The state of %1 is not known yet</source>
        <translation>Der Zustand von %1 ist noch nicht bekannt</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Download and install %1</source>
        <translation>%1 herunterladen und installieren</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Bring %1 up to date</source>
        <translation>%1 auf den neuesten Stand bringen</translation>
    </message>
    <message>
        <source>Verify</source>
        <translation>Überprüfen</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Spielen</translation>
    </message>
    <message>
        <source>Start %1; its context menu offers Verify</source>
        <translation>%1 starten; das Kontextmenü bietet „Überprüfen“</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Fortsetzen</translation>
    </message>
    <message>
        <source>Scanning...</source>
        <translation>Scannen...</translation>
    </message>
    <message>
        <source>Writing...</source>
        <translation>Schreiben...</translation>
    </message>
    <message>
        <source>Verifying...</source>
        <translation>Prüfen...</translation>
    </message>
    <message>
        <source>Downloading</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>%1 of the installation done: %2 fetched</source>
        <translation>%1 der Installation erledigt: %2 geladen</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>Angehalten</translation>
    </message>
</context>
<context>
    <name>orvik::launcher::THintArea</name>
    <message>
        <source>News, opens %1</source>
        <translation>Neuigkeiten, öffnet %1</translation>
    </message>
</context>
<context>
    <name>orvik::launcher::TLauncherApplication</name>
    <message>
        <source>Kestrun Online cannot start</source>
        <translation>Kestrun Online kann nicht starten</translation>
    </message>
    <message>
        <source>The settings file %1 gives no valid address of the launcher configuration (&quot;launcherConfiguration&quot; in the group &quot;URLS&quot;). Please reinstall Launcher.</source>
        <translation>Die Einstellungsdatei %1 enthält keine gültige Adresse der Launcher-Konfiguration („launcherConfiguration“ in der Gruppe „URLS“). Bitte installieren Sie den Launcher neu.</translation>
    </message>
    <message>
        <source>Kestrun Online cannot be started</source>
        <translation>Kestrun Online kann nicht gestartet werden</translation>
    </message>
    <message>
        <source>Cannot reach the Kestrun Online service, check your connection. Please try again later.</source>
        <translation>Der Kestrun-Online-Dienst ist nicht erreichbar. Bitte prüfen Sie Ihre Verbindung und versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>Kestrun Online is currently down for maintenance. Please try again later.</source>
        <translation>Kestrun Online wird gerade gewartet. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>A critical error occurred while accessing a file:
%1
Please reinstall Launcher.</source>
        <translation>Beim Zugriff auf eine Datei ist ein schwerwiegender Fehler aufgetreten:
%1
Bitte installieren Sie den Launcher neu.</translation>
    </message>
    <message>
        <source>Could not determine patch information. Your client might no longer be supported.</source>
        <translation>Die Patch-Informationen konnten nicht ermittelt werden. Ihr Client wird möglicherweise nicht mehr unterstützt.</translation>
    </message>
    <message>
        <source>Client patching failed</source>
        <translation>Patchen des Clients fehlgeschlagen</translation>
    </message>
    <message>
        <source>Kestrun Online is already running: %1</source>
        <translation>Kestrun Online läuft bereits: %1</translation>
    </message>
    <message>
        <source>Kestrun Online is already running; the patch was not started: %1</source>
        <translation>Kestrun Online läuft bereits; der Patch wurde nicht gestartet: %1</translation>
    </message>
    <message>
        <source>this launcher is busy; close it and start the patch again.</source>
        <translation>dieser Launcher ist beschäftigt; schließen Sie ihn und starten Sie den Patch erneut.</translation>
    </message>
    <message>
        <source>it is working without a window.</source>
        <translation>er arbeitet ohne Fenster.</translation>
    </message>
    <message>
        <source>its window was brought to the front.</source>
        <translation>sein Fenster wurde nach vorne geholt.</translation>
    </message>
    <message>
        <source>Kestrun Online cannot make sure that it runs only once for you: %1</source>
        <translation>Kestrun Online kann nicht sicherstellen, dass es für Sie nur einmal läuft: %1</translation>
    </message>
    <message>
        <source>the running launcher did not answer (%1)</source>
        <translation>der laufende Launcher hat nicht geantwortet (%1)</translation>
    </message>
    <message>
        <source>Kestrun Online is already running but did not take this start: %1</source>
        <translation>Kestrun Online läuft bereits, hat diesen Start aber nicht angenommen: %1</translation>
    </message>
</context>
<context>
    <name>orvik::launcher::TLauncherMainWindow</name>
    <message>
        <source>Opens %1</source>
        <translation>Öffnet %1</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Shows the version and the licences</source>
        <translation>Zeigt die Version und die Lizenzen</translation>
    </message>
    <message>
        <source>Launcher version</source>
        <translation>Launcher-Version</translation>
    </message>
    <message>
        <source>Follow us on Twitter</source>
        <translation>Folgen Sie uns auf Twitter</translation>
    </message>
    <message>
        <source>Follow us on Discord</source>
        <translation>Folgen Sie uns auf Discord</translation>
    </message>
    <message>
        <source>The installation of %1 failed.

Make sure you have enough free disk space and the application isn&apos;t currently running, then try again.</source>
        <translation>Die Installation von %1 ist fehlgeschlagen.

Stellen Sie sicher, dass genug freier Speicherplatz vorhanden ist und die Anwendung gerade nicht läuft, und versuchen Sie es dann erneut.</translation>
    </message>
    <message>
        <source>The installation of %1 failed.

Verification of game data failed!</source>
        <translation>Die Installation von %1 ist fehlgeschlagen.

Die Überprüfung der Spieldaten ist fehlgeschlagen!</translation>
    </message>
    <message>
        <source>Installation failed</source>
        <translation>Installation fehlgeschlagen</translation>
    </message>
    <message>
        <source>The installation of %1 failed.</source>
        <translation>Die Installation von %1 ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Kestrun Online is intact</source>
        <translation>Kestrun Online ist intakt</translation>
    </message>
    <message>
        <source>Every file of %1 was checked.</source>
        <translation>Jede Datei von %1 wurde geprüft.</translation>
    </message>
    <message>
        <source>Kestrun Online is ready</source>
        <translation>Kestrun Online ist bereit</translation>
    </message>
    <message>
        <source>%1 is installed and ready to play.</source>
        <translation>%1 ist installiert und spielbereit.</translation>
    </message>
    <message>
        <source>Kestrun Online is intact.

Every file of %1 matches the published build.</source>
        <translation>Kestrun Online ist intakt.

Jede Datei von %1 stimmt mit der veröffentlichten Version überein.</translation>
    </message>
    <message>
        <source>Verification complete</source>
        <translation>Überprüfung abgeschlossen</translation>
    </message>
    <message>
        <source>Download speed</source>
        <translation>Download-Geschwindigkeit</translation>
    </message>
    <message>
        <source>Limit all downloads to this many MB per second (0 for no limit):</source>
        <translation>Alle Downloads auf so viele MB pro Sekunde begrenzen (0 für keine Begrenzung):</translation>
    </message>
    <message>
        <source>Close Kestrun Online?</source>
        <translation>Kestrun Online schließen?</translation>
    </message>
    <message>
        <source>An installation is running. Close Kestrun Online anyway?

What was downloaded is kept: the installation goes on from there next time.</source>
        <translation>Eine Installation läuft. Kestrun Online trotzdem schließen?

Bereits Heruntergeladenes bleibt erhalten: Die Installation setzt beim nächsten Mal dort fort.</translation>
    </message>
    <message>
        <source>There is not enough free disk space to install %1.

It needs %2; %3 are free on %4.</source>
        <translation>Für die Installation von %1 ist nicht genug freier Speicherplatz vorhanden.

Benötigt werden %2; auf %4 sind %3 frei.</translation>
    </message>
    <message>
        <source>Connection problem</source>
        <translation>Verbindungsproblem</translation>
    </message>
    <message>
        <source>Could not connect to the update service.

Please try again later.
</source>
        <translation>Keine Verbindung zum Aktualisierungsdienst.

Bitte versuchen Sie es später erneut.
</translation>
    </message>
    <message>
        <source>Download failed</source>
        <translation>Download fehlgeschlagen</translation>
    </message>
    <message>
        <source>Failed to obtain information.</source>
        <translation>Die Informationen konnten nicht abgerufen werden.</translation>
    </message>
    <message>
        <source>Loading, please wait...</source>
        <translation>Wird geladen, bitte warten...</translation>
    </message>
    <message>
        <source>The installation of %1 failed.

Not all files necessary could be downloaded. Please try again later.

Diagnostic information: %2</source>
        <translation>Die Installation von %1 ist fehlgeschlagen.

Nicht alle benötigten Dateien konnten heruntergeladen werden. Bitte versuchen Sie es später erneut.

Diagnoseinformationen: %2</translation>
    </message>
    <message>
        <source>Kestrun Online is repaired.

1 file of %1 repaired, %2 downloaded. Every file now matches the published build.</source>
        <translation>Kestrun Online ist repariert.

1 Datei von %1 repariert, %2 heruntergeladen. Jede Datei stimmt jetzt mit der veröffentlichten Version überein.</translation>
    </message>
    <message>
        <source>Kestrun Online is repaired.

%1 files of %2 repaired, %3 downloaded. Every file now matches the published build.</source>
        <translation>Kestrun Online ist repariert.

%1 Dateien von %2 repariert, %3 heruntergeladen. Jede Datei stimmt jetzt mit der veröffentlichten Version überein.</translation>
    </message>
    <message>
        <source>and %1 more</source>
        <translation>und %1 weitere</translation>
    </message>
    <message>
        <source>Missing or different: %1</source>
        <translation>Fehlend oder verändert: %1</translation>
    </message>
    <message>
        <source>The installation of %1 failed.

Could not write &apos;%2&apos;: %3</source>
        <translation>Die Installation von %1 ist fehlgeschlagen.

&apos;%2&apos; konnte nicht geschrieben werden: %3</translation>
    </message>
</context>
<context>
    <name>orvik::launcher::TRunningInstance</name>
    <message>
        <source>user %1 answered in its place</source>
        <translation>Benutzer %1 hat an seiner Stelle geantwortet</translation>
    </message>
</context>
<context>
    <name>progresstext</name>
    <message>
        <source>Download: at most %1
On disk: at most %2</source>
        <translation>Download: höchstens %1
Auf dem Datenträger: höchstens %2</translation>
    </message>
    <message>
        <source>Download: %1
On disk: %2</source>
        <translation>Download: %1
Auf dem Datenträger: %2</translation>
    </message>
    <message>
        <source>Free: %1</source>
        <translation>Frei: %1</translation>
    </message>
    <message>
        <source>Not enough free space to install.</source>
        <translation>Nicht genug freier Speicherplatz für die Installation.</translation>
    </message>
    <message>
        <source>%1 s left</source>
        <translation>noch %1 s</translation>
    </message>
    <message>
        <source>%1 min left</source>
        <translation>noch %1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min left</source>
        <translation>noch %1 h %2 min</translation>
    </message>
</context>
</TS>
