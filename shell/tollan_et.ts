<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- Qt's own texts that the operator's window shows, in Estonian: the text fields' context menu,
     the file dialog of the TLS files, and the dialogs' standard buttons. Loaded at start. -->
<TS version="2.1" language="et_EE">
<context>
    <name>QLineEdit</name>
    <message><source>&amp;Undo</source><translation>&amp;Võta tagasi</translation></message>
    <message><source>&amp;Redo</source><translation>&amp;Tee uuesti</translation></message>
    <message><source>Cu&amp;t</source><translation>&amp;Lõika</translation></message>
    <message><source>&amp;Copy</source><translation>&amp;Kopeeri</translation></message>
    <message><source>&amp;Paste</source><translation>&amp;Aseta</translation></message>
    <message><source>Delete</source><translation>Kustuta</translation></message>
    <message><source>Select All</source><translation>Vali kõik</translation></message>
</context>
<context>
    <name>QWidgetTextControl</name>
    <message><source>&amp;Undo</source><translation>&amp;Võta tagasi</translation></message>
    <message><source>&amp;Redo</source><translation>&amp;Tee uuesti</translation></message>
    <message><source>Cu&amp;t</source><translation>&amp;Lõika</translation></message>
    <message><source>&amp;Copy</source><translation>&amp;Kopeeri</translation></message>
    <message><source>Copy &amp;Link Location</source><translation>Kopeeri &amp;lingi aadress</translation></message>
    <message><source>&amp;Paste</source><translation>&amp;Aseta</translation></message>
    <message><source>Delete</source><translation>Kustuta</translation></message>
    <message><source>Select All</source><translation>Vali kõik</translation></message>
</context>
<context>
    <name>QFileDialog</name>
    <message><source>Look in:</source><translation>Otsi kaustast:</translation></message>
    <message><source>File &amp;name:</source><translation>Faili &amp;nimi:</translation></message>
    <message><source>Files of type:</source><translation>Failitüüp:</translation></message>
    <message><source>Back</source><translation>Tagasi</translation></message>
    <message><source>Forward</source><translation>Edasi</translation></message>
    <message><source>Parent Directory</source><translation>Ülemkaust</translation></message>
    <message><source>Create New Folder</source><translation>Loo uus kaust</translation></message>
    <message><source>New Folder</source><translation>Uus kaust</translation></message>
    <message><source>List View</source><translation>Loend</translation></message>
    <message><source>Detail View</source><translation>Üksikasjad</translation></message>
    <message><source>&amp;Open</source><translation>&amp;Ava</translation></message>
    <message><source>Open</source><translation>Ava</translation></message>
    <message><source>All Files (*)</source><translation>Kõik failid (*)</translation></message>
    <message><source>&amp;Rename</source><translation>&amp;Nimeta ümber</translation></message>
    <message><source>&amp;Delete</source><translation>&amp;Kustuta</translation></message>
    <message><source>Show &amp;hidden files</source><translation>Näita &amp;peidetud faile</translation></message>
    <message><source>&amp;New Folder</source><translation>&amp;Uus kaust</translation></message>
    <message><source>Directory:</source><translation>Kaust:</translation></message>
</context>
<context>
    <name>QFileSystemModel</name>
    <message><source>Name</source><translation>Nimi</translation></message>
    <message><source>Size</source><translation>Suurus</translation></message>
    <message><source>Type</source><translation>Tüüp</translation></message>
    <message><source>Date Modified</source><translation>Muudetud</translation></message>
</context>
<context>
    <name>QPlatformTheme</name>
    <message><source>OK</source><translation>OK</translation></message>
    <message><source>Cancel</source><translation>Loobu</translation></message>
    <message><source>Open</source><translation>Ava</translation></message>
    <message><source>&amp;Yes</source><translation>&amp;Jah</translation></message>
    <message><source>&amp;No</source><translation>&amp;Ei</translation></message>
    <message><source>Close</source><translation>Sulge</translation></message>
</context>
</TS>
