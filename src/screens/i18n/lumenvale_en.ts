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
    <message id="hero.ready">
        <source>Ready</source>
        <translation>Ready</translation>
    </message>
    <message id="hero.moving">
        <source>Copying</source>
        <translation>Copying</translation>
    </message>
    <message id="hero.caughtUp">
        <source>Caught up</source>
        <translation>Caught up</translation>
    </message>
    <message id="hero.offline.eyebrow">
        <source>Offline</source>
        <translation>Offline</translation>
    </message>
    <message id="hero.waiting.state">
        <source>Waiting for a laptop</source>
        <translation>Waiting for a laptop</translation>
    </message>
    <message id="hero.connected.state">
        <source>Connected</source>
        <translation>Connected</translation>
    </message>
    <message id="hero.offline.state">
        <source>No network</source>
        <translation>No network</translation>
    </message>
    <message id="hero.waiting">
        <source>Pair a laptop to</source>
        <translation>Pair a laptop to</translation>
    </message>
    <message id="hero.waiting.accent">
        <source>begin</source>
        <translation>begin</translation>
    </message>
    <message id="hero.sending">
        <source>Copying to</source>
        <translation>Copying to</translation>
    </message>
    <message id="hero.connected">
        <source>Everything is</source>
        <translation>Everything is</translation>
    </message>
    <message id="hero.connected.accent">
        <source>copied</source>
        <translation>copied</translation>
    </message>
    <message id="hero.offline">
        <source>Join a network to</source>
        <translation>Join a network to</translation>
    </message>
    <message id="hero.offline.accent">
        <source>connect</source>
        <translation>connect</translation>
    </message>
    <message id="code.label">
        <source>Pairing code</source>
        <translation>Pairing code</translation>
    </message>
    <message id="code.hint">
        <source>Type this code on your laptop. A new one comes every five minutes.</source>
        <translation>Type this code on your laptop. A new one comes every five minutes.</translation>
    </message>
    <message id="hero.sent">
        <source>files, %1 sent</source>
        <translation>files, %1 sent</translation>
    </message>
    <message id="hero.speed">
        <source>%1/s</source>
        <translation>%1/s</translation>
    </message>
    <message id="hero.safe">
        <source>safe on a laptop</source>
        <translation>safe on a laptop</translation>
    </message>
    <message id="hero.connected.safe.one">
        <source>%1 photo is safe on %2.</source>
        <translation>%1 photo is safe on %2.</translation>
    </message>
    <message id="hero.connected.safe.other">
        <source>%1 photos are safe on %2.</source>
        <translation>%1 photos are safe on %2.</translation>
    </message>
    <message id="hero.file.detail">
        <source>%1 · %2</source>
        <translation>%1 · %2</translation>
    </message>
    <message id="address.none">
        <source>No network yet: join Wi-Fi or plug in a cable.</source>
        <translation>No network yet: join Wi-Fi or plug in a cable.</translation>
    </message>
    <message id="server.failed.title">
        <source>Lumenvale is not reachable</source>
        <translation>Lumenvale is not reachable</translation>
    </message>
    <message id="server.failed.body">
        <source>Laptops cannot connect right now. Lumenvale keeps trying.</source>
        <translation>Laptops cannot connect right now. Lumenvale keeps trying.</translation>
    </message>
    <message id="access.choose">
        <source>Choose folders</source>
        <translation>Choose folders</translation>
    </message>
    <message id="cloud.title">
        <source>Fetching from the cloud</source>
        <translation>Fetching from the cloud</translation>
    </message>
    <message id="cloud.body">
        <source>Some photos are being downloaded before they can be copied.</source>
        <translation>Some photos are being downloaded before they can be copied.</translation>
    </message>
    <message id="delete.late.title">
        <source>Deleted after all</source>
        <translation>Deleted after all</translation>
    </message>
    <message id="delete.late.body">
        <source>%1 photos and videos were deleted after the laptop stopped waiting.</source>
        <translation>%1 photos and videos were deleted after the laptop stopped waiting.</translation>
    </message>
    <message id="delete.late.ok">
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message id="stat.onPhone">
        <source>On this device</source>
        <translation>On this device</translation>
    </message>
    <message id="stat.safe">
        <source>Safe</source>
        <translation>Safe</translation>
    </message>
    <message id="stat.not">
        <source>Not yet safe</source>
        <translation>Not yet safe</translation>
    </message>
    <message id="address.label">
        <source>Addresses</source>
        <translation>Addresses</translation>
    </message>
    <message id="address.wifi">
        <source>Wi-Fi</source>
        <translation>Wi-Fi</translation>
    </message>
    <message id="address.copy">
        <source>Copy</source>
        <translation>Copy</translation>
    </message>
    <message id="address.copied">
        <source>Copied</source>
        <translation>Copied</translation>
    </message>
    <message id="keepOpen.title">
        <source>Keep Lumenvale open</source>
        <translation>Keep Lumenvale open</translation>
    </message>
    <message id="keepOpen.body">
        <source>Copying stops if Lumenvale closes while a laptop is connected.</source>
        <translation>Copying stops if Lumenvale closes while a laptop is connected.</translation>
    </message>
    <message id="keepOpen.footer">
        <source>Your photos stay on your network.</source>
        <translation>Your photos stay on your network.</translation>
    </message>
    <message id="cable.label">
        <source>How to connect</source>
        <translation>How to connect</translation>
    </message>
    <message id="cable.platforms">
        <source>macOS · Windows · Linux</source>
        <translation>macOS · Windows · Linux</translation>
    </message>
    <message id="cable.step1">
        <source>Install Lumenvale on your laptop.</source>
        <translation>Install Lumenvale on your laptop.</translation>
    </message>
    <message id="cable.step2">
        <source>Connect the laptop to the same network as this device.</source>
        <translation>Connect the laptop to the same network as this device.</translation>
    </message>
    <message id="cable.step3">
        <source>Find this device with lumenvale-laptop find, then pair.</source>
        <translation>Find this device with lumenvale-laptop find, then pair.</translation>
    </message>
    <message id="cable.step4">
        <source>Type the pairing code shown above.</source>
        <translation>Type the pairing code shown above.</translation>
    </message>
</context>
</TS>
