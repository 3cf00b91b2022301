<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="app.name">
        <source>Lumenvale</source>
        <translation>Lumenvale</translation>
    </message>
    <message id="tagline">
        <source>Your photos, kept at home</source>
        <translation>Your photos, kept at home</translation>
    </message>
    <message id="welcome.headline">
        <source>Your library, copied</source>
        <translation>Your library, copied</translation>
    </message>
    <message id="welcome.headline.accent">
        <source>safely</source>
        <translation>safely</translation>
    </message>
    <message id="welcome.body">
        <source>Laptops on your network copy every photo and video from this device, check each file, and only then may you free the space here.</source>
        <translation>Laptops on your network copy every photo and video from this device, check each file, and only then may you free the space here.</translation>
    </message>
    <message id="welcome.start">
        <source>Get started</source>
        <translation>Get started</translation>
    </message>
    <message id="perms.eyebrow">
        <source>Before we start</source>
        <translation>Before we start</translation>
    </message>
    <message id="perms.headline">
        <source>Two things</source>
        <translation>Two things</translation>
    </message>
    <message id="perms.headline.accent">
        <source>Lumenvale</source>
        <translation>Lumenvale</translation>
    </message>
    <message id="perms.headline.after">
        <source>needs</source>
        <translation>needs</translation>
    </message>
    <message id="access.body">
        <source>Your photos never leave your network. Laptops you pair copy them over an encrypted connection to this device.</source>
        <translation>Your photos never leave your network. Laptops you pair copy them over an encrypted connection to this device.</translation>
    </message>
    <message id="need.photos.title">
        <source>Your photos</source>
        <translation>Your photos</translation>
    </message>
    <message id="need.photos.desc">
        <source>Choose the folders that hold your photos and videos, so paired laptops can copy them.</source>
        <translation>Choose the folders that hold your photos and videos, so paired laptops can copy them.</translation>
    </message>
    <message id="need.allow">
        <source>Choose</source>
        <translation>Choose</translation>
    </message>
    <message id="need.some">
        <source>Some folders</source>
        <translation>Some folders</translation>
    </message>
    <message id="need.allowed">
        <source>Allowed</source>
        <translation>Allowed</translation>
    </message>
    <message id="access.openSettings">
        <source>Choose again</source>
        <translation>Choose again</translation>
    </message>
    <message id="need.network.title">
        <source>Your network</source>
        <translation>Your network</translation>
    </message>
    <message id="need.network.desc">
        <source>Laptops find this device on the same Wi-Fi or wired network. Nothing goes to the internet.</source>
        <translation>Laptops find this device on the same Wi-Fi or wired network. Nothing goes to the internet.</translation>
    </message>
    <message id="access.limited.title">
        <source>Some folders cannot be read</source>
        <translation>Some folders cannot be read</translation>
    </message>
    <message id="access.limited.body">
        <source>Laptops see only the photos in folders Lumenvale can read. Choose more to include the rest.</source>
        <translation>Laptops see only the photos in folders Lumenvale can read. Choose more to include the rest.</translation>
    </message>
    <message id="access.denied.title">
        <source>No folder can be read</source>
        <translation>No folder can be read</translation>
    </message>
    <message id="access.denied.body">
        <source>Lumenvale cannot read the folders you chose. Choose folders it can read to go on.</source>
        <translation>Lumenvale cannot read the folders you chose. Choose folders it can read to go on.</translation>
    </message>
    <message id="perms.continue">
        <source>Continue</source>
        <translation>Continue</translation>
    </message>
    <message id="tab.home">
        <source>Home</source>
        <translation>Home</translation>
    </message>
    <message id="tab.photos">
        <source>Photos</source>
        <translation>Photos</translation>
    </message>
    <message id="tab.laptops">
        <source>Laptops</source>
        <translation>Laptops</translation>
    </message>
    <message id="tab.settings">
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
</context>
</TS>
