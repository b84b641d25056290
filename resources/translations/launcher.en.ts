<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="launcher.about.title">
        <source>About Kestrun Online</source>
        <translation>About Kestrun Online</translation>
    </message>
    <message id="launcher.about.text">
        <source>About text</source>
        <translation>&lt;p&gt;&lt;b&gt;Kestrun Online Launcher&lt;/b&gt;&lt;/p&gt;&lt;p&gt;Copyright &#169; %1&#8211;%2 Halvern GmbH. All rights reserved.&lt;/p&gt;&lt;p&gt;This launcher is built with the Qt toolkit, used under the terms of the &lt;a href=&quot;%3&quot;&gt;GNU Lesser General Public License version 3&lt;/a&gt; (%4).&lt;/p&gt;&lt;p&gt;The source code of the Qt base library is available at &lt;a href=&quot;%5&quot;&gt;%6&lt;/a&gt;.&lt;/p&gt;</translation>
    </message>
</context>
</TS>
