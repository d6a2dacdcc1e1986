"""Fuzz seeds: AIC files. Nothing in Debian writes AIC, so the bytes below
were written once by the tree's own encoder (aic_probe) from small pictures
made by formula: colour 8x8 at quality 90, 13x5 at 30, a grey 16x9 at 60 and
one pixel at 100; a cut-off copy is added. Run as: aic.py OUTDIR."""
import binascii
import os
import sys

FILES = {
    "colour.aic": (
        "4149430a08000800015afd77db3cef7677db3cc5b6796f6cc7b8edb1efaed5da0ee1a87589bf2acff24e5fe0"
        "9ea8b665084560247fc8cba20fdcb9660dec36f1c54620cb2900677db3ce1b677db3cefb679df6cf3bed9e77"
        "db39eee3b6d7d275cf3a4df82ea6e1206849f7587f7514bb6e3235d84ecf0bf0ad41b1d3efda498594afc147"
        "173ea24f468e88bbb3be928b25f1bf3cefb66ddb6cf316d9e5bdb31ed7cbd3c6f70f970eb9fcffcc283c1cf8"
        "f32250c3c407982dccd178e82bb2a64b75875e6e0420"
    ),
    "wide.aic": (
        "4149430a0d000500011ee6d73731077f503f5ffff8bf9fc8f9f257c5f3c476dd56b104de0ba45248fd6e88cf"
        "10b77b21164224515c2d36162e9522420bacfcaf46ad9fc663d67f3989d05664c8"
    ),
    "grey.aic": (
        "4149430a10000900013cf8ea6dc760c8070ee01ea958c2fccbd6e643269903b63a830c628290111777e3a3be"
        "f0889f5b406c10057554266018f658f6b2b6fd9ff785d46231052958c7a4a0dc8421fffee1"
    ),
    "pixel.aic": (
        "4149430a010001000164fd7d07c426ef3ee310"
    ),
}


def main(outdir):
    files = {name: binascii.unhexlify(text) for name, text in FILES.items()}
    files["cut-off.aic"] = files["colour.aic"][:60]
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
