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
    <message id="folder.add">
        <source>Add a folder</source>
        <translation>Add a folder</translation>
    </message>
    <message id="folder.remove">
        <source>Remove</source>
        <translation>Remove</translation>
    </message>
    <message id="folder.last">
        <source>This device serves at least one folder. To serve another instead, choose again.</source>
        <translation>This device serves at least one folder. To serve another instead, choose again.</translation>
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
    <message id="hero.behind">
        <source>Not all copied</source>
        <translation>Not all copied</translation>
    </message>
    <message id="hero.connected.behind">
        <source>Connected to</source>
        <translation>Connected to</translation>
    </message>
    <message id="hero.connected.empty">
        <source>Nothing here</source>
        <translation>Nothing here</translation>
    </message>
    <message id="hero.connected.empty.accent">
        <source>to copy yet</source>
        <translation>to copy yet</translation>
    </message>
    <message id="hero.connected.notSafe" numerus="yes">
        <source>%1 photos and videos are not copied yet.</source>
        <translation>
            <numerusform>%1 photo or video is not copied yet.</numerusform>
            <numerusform>%1 photos and videos are not copied yet.</numerusform>
        </translation>
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
    <message id="hero.sent" numerus="yes">
        <source>%1 files, %2 sent</source>
        <translation>
            <numerusform>%1 file, %2 sent</numerusform>
            <numerusform>%1 files, %2 sent</numerusform>
        </translation>
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
        <source>%1 photo or video is safe on %2.</source>
        <translation>%1 photo or video is safe on %2.</translation>
    </message>
    <message id="hero.connected.safe.other">
        <source>%1 photos and videos are safe on %2.</source>
        <translation>%1 photos and videos are safe on %2.</translation>
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
    <message id="catalog.rebuilt.title">
        <source>The photo index was rebuilt</source>
        <translation>The photo index was rebuilt</translation>
    </message>
    <message id="catalog.rebuilt.body">
        <source>It was found damaged and built again from your folders. Photos keep the ids laptops know; the damaged copy is kept beside it.</source>
        <translation>It was found damaged and built again from your folders. Photos keep the ids laptops know; the damaged copy is kept beside it.</translation>
    </message>
    <message id="delete.late.title">
        <source>Deleted after all</source>
        <translation>Deleted after all</translation>
    </message>
    <message id="delete.late.body" numerus="yes">
        <source>%1 photos and videos were deleted after the laptop stopped waiting.</source>
        <translation>
            <numerusform>%1 photo or video was deleted after the laptop stopped waiting.</numerusform>
            <numerusform>%1 photos and videos were deleted after the laptop stopped waiting.</numerusform>
        </translation>
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
        <source>Linux laptops</source>
        <translation>Linux laptops</translation>
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
    <message id="photos.headline">
        <source>Everything on</source>
        <translation>Everything on</translation>
    </message>
    <message id="photos.headline.accent">
        <source>this device</source>
        <translation>this device</translation>
    </message>
    <message id="photos.safe.summary">
        <source>%1 of %2 are safe on a laptop</source>
        <translation>%1 of %2 are safe on a laptop</translation>
    </message>
    <message id="photos.percent">
        <source>%1% safe</source>
        <translation>%1% safe</translation>
    </message>
    <message id="photos.freeHint">
        <source>Once a laptop holds a photo, it may ask to free its space here. You approve each time.</source>
        <translation>Once a laptop holds a photo, it may ask to free its space here. You approve each time.</translation>
    </message>
    <message id="photos.filter.all">
        <source>All %1</source>
        <translation>All %1</translation>
    </message>
    <message id="photos.filter.not">
        <source>Not yet %1</source>
        <translation>Not yet %1</translation>
    </message>
    <message id="photos.filter.safe">
        <source>Safe %1</source>
        <translation>Safe %1</translation>
    </message>
    <message id="photos.empty">
        <source>No photos or videos in the chosen folders yet.</source>
        <translation>No photos or videos in the chosen folders yet.</translation>
    </message>
    <message id="photos.filter.empty">
        <source>Nothing here under this filter.</source>
        <translation>Nothing here under this filter.</translation>
    </message>
    <message id="photo.safe.mark">
        <source>Safe on a laptop</source>
        <translation>Safe on a laptop</translation>
    </message>
    <message id="photo.not.mark">
        <source>Not on a laptop yet</source>
        <translation>Not on a laptop yet</translation>
    </message>
    <message id="photos.back">
        <source>Back</source>
        <translation>Back</translation>
    </message>
    <message id="photo.size">
        <source>%1 × %2</source>
        <translation>%1 × %2</translation>
    </message>
    <message id="photo.safe.title">
        <source>Safe on a laptop</source>
        <translation>Safe on a laptop</translation>
    </message>
    <message id="photo.safe.body">
        <source>Held by %1.</source>
        <translation>Held by %1.</translation>
    </message>
    <message id="photo.not.title">
        <source>Not on a laptop yet</source>
        <translation>Not on a laptop yet</translation>
    </message>
    <message id="photo.not.body">
        <source>No paired laptop holds this one. Keep it here until one has copied it.</source>
        <translation>No paired laptop holds this one. Keep it here until one has copied it.</translation>
    </message>
    <message id="laptops.headline">
        <source>Your</source>
        <translation>Your</translation>
    </message>
    <message id="laptops.headline.accent">
        <source>laptops</source>
        <translation>laptops</translation>
    </message>
    <message id="laptops.body">
        <source>Laptops paired with this device may copy your library. Forget one to shut it out.</source>
        <translation>Laptops paired with this device may copy your library. Forget one to shut it out.</translation>
    </message>
    <message id="pair.new">
        <source>Pair a new laptop</source>
        <translation>Pair a new laptop</translation>
    </message>
    <message id="pair.new.body">
        <source>Type this code on the laptop when it asks.</source>
        <translation>Type this code on the laptop when it asks.</translation>
    </message>
    <message id="pair.new.left">
        <source>Expires in %1</source>
        <translation>Expires in %1</translation>
    </message>
    <message id="pair.fingerprint">
        <source>This device&apos;s fingerprint</source>
        <translation>This device&apos;s fingerprint</translation>
    </message>
    <message id="pair.fingerprint.body">
        <source>When you pair, the laptop prints a fingerprint. Check that it is this one, group by group, before you type the code.</source>
        <translation>When you pair, the laptop prints a fingerprint. Check that it is this one, group by group, before you type the code.</translation>
    </message>
    <message id="laptops.none">
        <source>No laptop is paired yet.</source>
        <translation>No laptop is paired yet.</translation>
    </message>
    <message id="laptop.now">
        <source>Here now</source>
        <translation>Here now</translation>
    </message>
    <message id="laptop.paired">
        <source>Paired %1</source>
        <translation>Paired %1</translation>
    </message>
    <message id="laptop.forget">
        <source>Forget</source>
        <translation>Forget</translation>
    </message>
    <message id="laptop.forget.title">
        <source>Forget %1?</source>
        <translation>Forget %1?</translation>
    </message>
    <message id="laptop.forget.body">
        <source>It will need a new code to copy again, and what it holds no longer counts as safe here.</source>
        <translation>It will need a new code to copy again, and what it holds no longer counts as safe here.</translation>
    </message>
    <message id="laptop.forget.cancel">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="settings.headline">
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message id="delete.label">
        <source>Laptops may ask to free space</source>
        <translation>Laptops may ask to free space</translation>
    </message>
    <message id="delete.desc">
        <source>A laptop that holds a photo may ask to delete it here. You approve every request on this screen.</source>
        <translation>A laptop that holds a photo may ask to delete it here. You approve every request on this screen.</translation>
    </message>
    <message id="appearance">
        <source>Appearance</source>
        <translation>Appearance</translation>
    </message>
    <message id="theme.system">
        <source>System</source>
        <translation>System</translation>
    </message>
    <message id="theme.light">
        <source>Light</source>
        <translation>Light</translation>
    </message>
    <message id="theme.dark">
        <source>Dark</source>
        <translation>Dark</translation>
    </message>
    <message id="permissions">
        <source>Photo access</source>
        <translation>Photo access</translation>
    </message>
    <message id="about">
        <source>About</source>
        <translation>About</translation>
    </message>
    <message id="about.version">
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message id="about.body">
        <source>Lumenvale lets your laptops copy this library over your own network, and frees space only when you say so.</source>
        <translation>Lumenvale lets your laptops copy this library over your own network, and frees space only when you say so.</translation>
    </message>
    <message id="delete.from">
        <source>From %1</source>
        <translation>From %1</translation>
    </message>
    <message id="delete.fromLaptop">
        <source>From a laptop</source>
        <translation>From a laptop</translation>
    </message>
    <message id="delete.ask.title.one">
        <source>Delete %1 photo from this device?</source>
        <translation>Delete %1 photo from this device?</translation>
    </message>
    <message id="delete.ask.title.other">
        <source>Delete %1 photos from this device?</source>
        <translation>Delete %1 photos from this device?</translation>
    </message>
    <message id="delete.ask.title.videos" numerus="yes">
        <source>Delete %1 videos from this device?</source>
        <translation>
            <numerusform>Delete %1 video from this device?</numerusform>
            <numerusform>Delete %1 videos from this device?</numerusform>
        </translation>
    </message>
    <message id="delete.ask.title.mixed" numerus="yes">
        <source>Delete %1 photos and videos from this device?</source>
        <translation>
            <numerusform>Delete %1 photo or video from this device?</numerusform>
            <numerusform>Delete %1 photos and videos from this device?</numerusform>
        </translation>
    </message>
    <message id="delete.ask.body">
        <source>The laptop has copied these and checked every byte. They go to the Trash here, where you can still restore them.</source>
        <translation>The laptop has copied these and checked every byte. They go to the Trash here, where you can still restore them.</translation>
    </message>
    <message id="delete.ask.range">
        <source>Taken %1 – %2</source>
        <translation>Taken %1 – %2</translation>
    </message>
    <message id="delete.ask.day">
        <source>Taken %1</source>
        <translation>Taken %1</translation>
    </message>
    <message id="delete.ask.next">
        <source>Nothing is deleted unless you confirm.</source>
        <translation>Nothing is deleted unless you confirm.</translation>
    </message>
    <message id="delete.ask.confirm.one">
        <source>Move %1 photo to the Trash</source>
        <translation>Move %1 photo to the Trash</translation>
    </message>
    <message id="delete.ask.confirm.other">
        <source>Move %1 photos to the Trash</source>
        <translation>Move %1 photos to the Trash</translation>
    </message>
    <message id="delete.ask.confirm.videos" numerus="yes">
        <source>Move %1 videos to the Trash</source>
        <translation>
            <numerusform>Move %1 video to the Trash</numerusform>
            <numerusform>Move %1 videos to the Trash</numerusform>
        </translation>
    </message>
    <message id="delete.ask.confirm.mixed" numerus="yes">
        <source>Move %1 photos and videos to the Trash</source>
        <translation>
            <numerusform>Move %1 photo or video to the Trash</numerusform>
            <numerusform>Move %1 photos and videos to the Trash</numerusform>
        </translation>
    </message>
    <message id="delete.ask.keep">
        <source>Keep them</source>
        <translation>Keep them</translation>
    </message>
    <message id="folder.choose">
        <source>Choose a photo folder</source>
        <translation>Choose a photo folder</translation>
    </message>
</context>
</TS>
